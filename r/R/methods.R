print.propbf <- function(x, ...) {
  cat(x$table)
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
  data <- as.data.frame(columns, stringsAsFactors = FALSE, optional = TRUE)
  if (!is.null(row.names)) rownames(data) <- row.names
  data
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
                 pmp_unconstrained = object$pmp_unconstrained, bf_matrix = object$bf_matrix),
            class = "summary.propbf")
}

print.summary.propbf <- function(x, digits = 4, ...) {
  items <- nrow(x$settings$items)
  cat("Bayes factors for ", items, " item", if (items == 1L) "" else "s", ", ",
      nrow(x$table), " hypothes", if (nrow(x$table) == 1L) "is" else "es", " (niter ", x$settings$niter,
      ", seed ", x$settings$seed, ")\n\n", sep = "")
  shown <- x$table[, intersect(c("name", "hypothesis", "complexity", "fit", "bf_unconstrained",
                                 "bf_unconstrained_lower", "bf_unconstrained_upper", "bf_complement", "pmp",
                                 "pmp_with_unconstrained"), names(x$table)), drop = FALSE]
  numeric <- vapply(shown, is.numeric, TRUE)
  shown[numeric] <- lapply(shown[numeric], signif, digits)
  print(shown, row.names = FALSE)
  cat("\nUnconstrained hypothesis: posterior probability", signif(x$pmp_unconstrained, digits),
      "beside the listed ones\n")
  if (is.matrix(x$bf_matrix)) {
    cat("\nBayes factors between hypotheses (row against column):\n")
    print(signif(x$bf_matrix, digits))
  }
  for (note in x$notes) cat("Note:", note, "\n")
  invisible(x)
}

# Base-graphics figure: the factor of each hypothesis against the unconstrained one on a
# log axis with its interval, one row per hypothesis; beside it the posterior estimates
# per item.
plot.propbf <- function(x, ...) {
  table <- as.data.frame(x)
  old <- par(mfrow = c(1L, 2L), mar = c(4.5, 8, 2.5, 1))
  on.exit(par(old))
  plot_factors(table)
  plot_estimates(estimates_table(x))
  invisible(x)
}

plot_factors <- function(table) {
  n <- nrow(table)
  factor <- table$bf_unconstrained
  lower <- table$bf_unconstrained_lower
  upper <- table$bf_unconstrained_upper
  shown <- c(factor, lower, upper, 1)
  shown <- shown[is.finite(shown) & shown > 0]
  limits <- range(shown)
  limits <- limits * c(0.8, 1.25)
  y <- rev(seq_len(n))
  plot.new()
  plot.window(xlim = limits, ylim = c(0.5, n + 0.5), log = "x")
  abline(v = 1, lty = 2, col = "grey50")
  ok <- is.finite(lower) & is.finite(upper) & lower > 0 & upper > 0
  segments(lower[ok], y[ok], upper[ok], y[ok], lwd = 2)
  drawn <- is.finite(factor) & factor > 0
  points(factor[drawn], y[drawn], pch = 19)
  axis(1)
  axis(2, at = y, labels = table$name, las = 1)
  box()
  title(xlab = "Bayes factor against the unconstrained hypothesis (log scale)", main = "Bayes factors")
}

plot_estimates <- function(estimates) {
  items <- unique(estimates$name)
  models <- unique(estimates$model)
  colours <- hcl.colors(max(length(models), 2L), "Dark 3")[seq_along(models)]
  offset <- if (length(models) > 1L) seq(-0.3, 0.3, length.out = length(models)) else 0
  plot.new()
  columns <- min(length(models), 4L)
  legend_rows <- ceiling(length(models) / columns)
  plot.window(xlim = c(0, 1), ylim = c(0.5 - 0.35 * legend_rows, length(items) + 0.5))
  for (m in seq_along(models)) {
    rows <- estimates[estimates$model == models[m], ]
    y <- length(items) + 1 - match(rows$name, items) - offset[m]
    segments(rows$lower, y, rows$upper, y, col = colours[m], lwd = 2)
    points(rows$mean, y, pch = 19, col = colours[m])
  }
  axis(1)
  axis(2, at = rev(seq_along(items)), labels = items, las = 1)
  box()
  title(xlab = "proportion (posterior mean, 95% interval)", main = "Estimates")
  legend("bottom", legend = models, col = colours, pch = 19, lwd = 2, bty = "n", cex = 0.8, ncol = columns)
}
