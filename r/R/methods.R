# The table of `propbf evaluate`, one line per element; print() writes it.
format.propbf <- function(x, ...) {
  strsplit(sub("\n$", "", x$table), "\n", fixed = TRUE)[[1]]
}

print.propbf <- function(x, ...) {
  cat(format(x), sep = "\n")
  invisible(x)
}

# One row per hypothesis: its figures, each interval as its two ends (NA where the
# engine gives none).
as.data.frame.propbf <- function(x, row.names = NULL, optional = FALSE, ...) {
  hypotheses <- x$hypotheses
  column <- function(member) vapply(hypotheses, function(h) as.numeric(h[[member]]), 0, USE.NAMES = FALSE)
  end <- function(member, k) vapply(hypotheses, function(h) as.numeric(h[[member]][k]), 0, USE.NAMES = FALSE)
  columns <- list(name = vapply(hypotheses, function(h) h$name, "", USE.NAMES = FALSE),
                  hypothesis = vapply(hypotheses, function(h) h$hypothesis, "", USE.NAMES = FALSE))
  for (member in c("complexity", "fit", "bf_unconstrained", "bf_complement")) columns[[member]] <- column(member)
  columns$start_radius <- column("start_radius")
  if (!is.na(x$settings$precision)) columns$niter <- column("niter")
  for (base in c("bf_unconstrained", "bf_complement")) {
    for (suffix in c("", "_independent")) {
      member <- paste0(base, "_interval", suffix)
      columns[[paste0(base, "_lower", suffix)]] <- end(member, 1L)
      columns[[paste0(base, "_upper", suffix)]] <- end(member, 2L)
    }
  }
  for (member in c("bf_equalities", "log_bf_unconstrained")) columns[[member]] <- column(member)
  columns$interval_trusted <- vapply(hypotheses, function(h) h$interval_trusted, TRUE, USE.NAMES = FALSE)
  for (member in c("pmp", "pmp_with_unconstrained")) columns[[member]] <- column(member)
  if (length(hypotheses) == 1L) columns$pmp_complement <- column("pmp_complement")
  columns$ppp <- column("ppp")
  data <- as.data.frame(columns, stringsAsFactors = FALSE, optional = TRUE)
  if (!is.null(row.names)) rownames(data) <- row.names
  data
}

# The draws of each hypothesis's restricted posterior: a named list of matrices, one row
# per draw and one column per proportion (or category), or with `hypothesis` (a name or a
# number) that hypothesis's matrix.
samples <- function(x, ...) UseMethod("samples")

samples.propbf <- function(x, hypothesis = NULL, ...) {
  kept <- lapply(x$hypotheses, function(h) h$samples)
  if (any(vapply(kept, is.null, TRUE))) {
    stop("this result holds no samples: run it with samples = TRUE (the default)", call. = FALSE)
  }
  if (is.null(hypothesis)) return(kept)
  if (length(hypothesis) != 1L || is.null(kept[[hypothesis]])) {
    stop("no hypothesis named '", hypothesis, "'", call. = FALSE)
  }
  kept[[hypothesis]]
}

# The posterior means of the items under one hypothesis (a name or a number; the first
# by default), named by item.
coef.propbf <- function(object, hypothesis = 1L, ...) {
  h <- object$hypotheses[[hypothesis]]
  if (is.null(h)) stop("no hypothesis named '", hypothesis, "'", call. = FALSE)
  stats::setNames(as.numeric(h$estimates$mean), h$estimates$name)
}

# The intervals of the factors against the unconstrained hypothesis or against the
# complement, one row per hypothesis; Inf and 0 stay as the engine gives them.
confint.propbf <- function(object, parm, level = 0.95, factor = c("unconstrained", "complement"), ...) {
  factor <- match.arg(factor)
  if (!isTRUE(all.equal(level, 0.95))) stop("the engine's intervals are for level 0.95 only", call. = FALSE)
  member <- paste0("bf_", factor, "_interval")
  hypotheses <- object$hypotheses
  if (!missing(parm)) hypotheses <- hypotheses[parm]
  ends <- t(vapply(hypotheses, function(h) as.numeric(h[[member]]), c(0, 0)))
  dimnames(ends) <- list(names(hypotheses), c("2.5 %", "97.5 %"))
  ends
}

# Per-item estimates, one row per model and item: unconstrained and per hypothesis.
estimates_table <- function(object) {
  parts <- c(list(cbind(model = "unconstrained", object$unconstrained_estimates, stringsAsFactors = FALSE)),
             lapply(object$hypotheses, function(h) cbind(model = h$name, h$estimates, stringsAsFactors = FALSE)))
  data <- do.call(rbind, unname(parts))
  rownames(data) <- NULL
  data
}

summary.propbf <- function(object, ...) {
  structure(list(table = as.data.frame(object), settings = object$settings, notes = object$notes,
                 pmp_unconstrained = object$pmp_unconstrained, ppp_unconstrained = object$ppp_unconstrained,
                 bf_matrix = object$bf_matrix),
            class = "summary.propbf")
}

# Numbers as a paper shows them: `digits` significant digits, written out from 1e-4 to
# 1e6 and as 1e-36 beyond; 0 and Inf as such, NA (a figure the engine does not define)
# as "-".
format_figure <- function(x, digits = 3) {
  rounded <- signif(x, digits)
  plain <- !is.na(rounded) & abs(rounded) >= 1e-4 & abs(rounded) < 1e6
  out <- formatC(rounded, digits = digits, format = "g")
  out[plain] <- formatC(rounded[plain], digits = digits, format = "fg")
  out[is.na(x)] <- "-"
  out[!is.na(x) & x == Inf] <- "Inf"
  out[!is.na(x) & x == 0] <- "0"
  trimws(out)
}

format_interval <- function(lower, upper, digits = 3) {
  ifelse(is.na(lower) | is.na(upper), "-",
         paste0("[", format_figure(lower, digits), ", ", format_figure(upper, digits), "]"))
}

# A name cut to `width` characters (the full one is listed above the table).
shorten <- function(x, width) {
  ifelse(nchar(x) > width, paste0(substr(x, 1L, width - 2L), ".."), x)
}

# Within 80 columns: the hypotheses listed with their text, then one line per hypothesis
# of figures (long names cut to fit), the factors between hypotheses when they fit, and
# the notes wrapped.
print.summary.propbf <- function(x, digits = 4, ...) {
  table <- x$table
  items <- length(unique(x$settings$items$name))  # items of categories: one row per category
  width <- min(80L, getOption("width", 80L))
  cat(strwrap(paste0("Bayes factors for ", items, " item", if (items == 1L) "" else "s", ", ", nrow(table),
                     " hypothes", if (nrow(table) == 1L) "is" else "es", " (", x$settings$niter,
                     " sweeps per stage, seed ", x$settings$seed, ")"), width = width), sep = "\n")
  cat("\n")
  for (k in seq_len(nrow(table))) {
    cat(strwrap(paste0(table$name[k], ": ", table$hypothesis[k]), width = width, indent = 2L, exdent = 6L),
        sep = "\n")
  }
  single <- nrow(table) == 1L
  shown <- data.frame(
    complexity = format_figure(table$complexity, digits),
    fit = format_figure(table$fit, digits),
    "BF.u" = format_figure(table$bf_unconstrained, digits),
    "95% interval" = format_interval(table$bf_unconstrained_lower, table$bf_unconstrained_upper, 3),
    "BF.c" = format_figure(table$bf_complement, digits),
    PMP = format_figure(table$pmp, digits),
    PPP = format_figure(table$ppp, 3),
    check.names = FALSE, stringsAsFactors = FALSE)
  # The names as long as the lines allow (down to 8 characters).
  for (cut in c(20L, 16L, 12L, 10L, 8L)) {
    rownames(shown) <- make.unique(shorten(table$name, cut))
    lines <- utils::capture.output(print(shown, right = TRUE))
    if (max(nchar(lines)) <= width) break
  }
  cat("\n")
  cat(lines, sep = "\n")
  cat(strwrap(paste0("BF.u: Bayes factor against the unconstrained hypothesis, with the 95% interval of its ",
                     "Monte Carlo error; BF.c: against the complement; PMP: posterior probability ",
                     if (single) "against the complement" else "among the listed hypotheses",
                     " (equal prior probabilities). With the unconstrained hypothesis listed too, its ",
                     "posterior probability is ", format_figure(x$pmp_unconstrained, digits), ". PPP: ",
                     "posterior predictive p-value of Pearson's X^2 (without restrictions ",
                     format_figure(x$ppp_unconstrained, 3), ")."),
              width = width), sep = "\n")
  if (is.matrix(x$bf_matrix) && nrow(x$bf_matrix) > 1L) {
    for (cut in c(20L, 16L, 12L, 10L, 8L)) {
      factors <- matrix(format_figure(x$bf_matrix, digits), nrow(x$bf_matrix),
                        dimnames = lapply(dimnames(x$bf_matrix), function(n) make.unique(shorten(n, cut))))
      lines <- utils::capture.output(print(noquote(factors), right = TRUE))
      if (max(nchar(lines)) <= width) break
    }
    if (max(nchar(lines)) <= width) {
      cat("\nBayes factors between hypotheses (row against column):\n")
      cat(lines, sep = "\n")
    } else {
      cat("\nBayes factors between hypotheses: see $bf_matrix\n")
    }
  }
  for (note in x$notes) cat(strwrap(paste("Note:", note), width = width, exdent = 6L), sep = "\n")
  invisible(x)
}

# One line per hypothesis that a paper can quote: its factor against the unconstrained
# hypothesis and against its complement, each with the 95% interval of its Monte Carlo
# error, and its posterior probability. As text (a character vector named by
# hypothesis), as a table (a data frame of formatted figures) or as knitr::kable() of
# that table where knitr is installed.
bf_report <- function(x, digits = 3, type = c("text", "table", "kable"), ...) {
  if (!inherits(x, "propbf")) argument_error("'x' must be a result of bf_proportions()")
  type <- match.arg(type)
  table <- as.data.frame(x)
  single <- nrow(table) == 1L
  # One hypothesis is set against its complement, or, with an equality (whose
  # complement is the unconstrained hypothesis but for a set of probability zero),
  # against the unconstrained hypothesis.
  among <- if (!single) "among the listed hypotheses" else
    if (is.na(table$bf_complement)) "against the unconstrained hypothesis" else "against its complement"
  interval <- function(lower, upper) {
    ifelse(is.na(lower) | is.na(upper), "",
           paste0(" (95% interval ", format_figure(lower, digits), " to ", format_figure(upper, digits), ")"))
  }
  if (type == "text") {
    complement <- ifelse(is.na(table$bf_complement), "; not defined against its complement",
                         paste0(", ", format_figure(table$bf_complement, digits),
                                interval(table$bf_complement_lower, table$bf_complement_upper),
                                " against its complement"))
    lines <- paste0(table$name, " (", table$hypothesis, "): Bayes factor ",
                    format_figure(table$bf_unconstrained, digits),
                    interval(table$bf_unconstrained_lower, table$bf_unconstrained_upper),
                    " against the unconstrained hypothesis", complement, "; posterior probability ",
                    format_figure(table$pmp, digits), " ", among, ".")
    return(stats::setNames(lines, table$name))
  }
  shown <- data.frame(Hypothesis = paste0(table$name, ": ", table$hypothesis),
                      "BF (unconstrained)" = format_figure(table$bf_unconstrained, digits),
                      "95% interval" = format_interval(table$bf_unconstrained_lower, table$bf_unconstrained_upper,
                                                       digits),
                      "BF (complement)" = format_figure(table$bf_complement, digits),
                      "95% interval (complement)" = format_interval(table$bf_complement_lower,
                                                                    table$bf_complement_upper, digits),
                      "Posterior probability" = format_figure(table$pmp, digits),
                      check.names = FALSE, stringsAsFactors = FALSE)
  if (type == "kable" && requireNamespace("knitr", quietly = TRUE)) {
    return(knitr::kable(shown, align = c("l", rep("r", ncol(shown) - 1L)), ...))
  }
  shown
}

