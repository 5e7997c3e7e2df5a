# bf_plan(): the sample sizes an informative hypothesis needs, by simulation, as
# `propbf plan` finds them. The plan is a plan file, or R arguments that this side writes
# as the text of one (plan_text()); either way the engine's reader reads it, so that its
# checks and messages are those of the command line, and the same text gives the same
# numbers (and JSON document) as `propbf plan` on a file holding it.

# The name the text written from R's arguments goes by in messages ("bf_plan():L:C").
plan_label <- "bf_plan()"

# A number as TOML reads it back to the same double: whole numbers below 2^53 as
# integers, others with the fewest significant digits (15 to 17) that read back
# exactly; infinities and NaN as TOML writes them (the reader refuses them in place).
toml_number <- function(x) {
  vapply(x, function(v) {
    if (is.nan(v)) return("nan")
    if (is.infinite(v)) return(if (v > 0) "inf" else "-inf")
    if (v == round(v) && abs(v) < 2^53) return(sprintf("%.0f", v))
    for (digits in 15:17) {
      text <- trimws(formatC(v, digits = digits, format = "g"))
      if (as.numeric(text) == v) break
    }
    text
  }, "", USE.NAMES = FALSE)
}

# A TOML basic string: quotes, backslashes and control characters escaped.
toml_string <- function(x) {
  vapply(enc2utf8(as.character(x)), function(s) {
    chars <- strsplit(s, "", fixed = TRUE)[[1]]
    codes <- vapply(chars, function(ch) utf8ToInt(ch)[1], 0L, USE.NAMES = FALSE)
    escaped <- ifelse(chars == "\"", "\\\"", ifelse(chars == "\\", "\\\\",
                      ifelse(codes < 32L | codes == 127L, sprintf("\\u%04X", codes), chars)))
    paste0("\"", paste(escaped, collapse = ""), "\"")
  }, "", USE.NAMES = FALSE)
}

# A key: bare where TOML allows it, quoted otherwise.
toml_key <- function(x) {
  ifelse(grepl("^[A-Za-z0-9_-]+$", x), x, toml_string(x))
}

toml_array <- function(x) paste0("[", paste(x, collapse = ", "), "]")

# The item names, from `names`, else the names of `truth` (or of a matrix's columns).
plan_items <- function(names, truth, n) {
  if (is.null(names) && (is.numeric(truth) || is.list(truth))) names <- names(truth)
  if (is.null(names) && is.matrix(n)) names <- colnames(n)
  if (is.null(names) || !is.character(names) || anyNA(names) || length(names) == 0L || any(names == "")) {
    argument_error("the items have no names: give 'names', or name the proportions of 'truth' (e.g. ",
                   "c(a = 0.7, b = 0.5))")
  }
  names
}

# [truth]: a named numeric vector of proportions, a list with per item a proportion or
# a beta's two shapes (c(A, B), or list(beta = c(A, B))), or one hypothesis's name.
truth_lines <- function(truth, items, hypotheses) {
  if (is.character(truth)) {
    if (length(truth) != 1L || is.na(truth)) {
      argument_error("'truth' as text is the name of one hypothesis, whose restricted prior the proportions ",
                     "are drawn from")
    }
    return(paste0("from_hypothesis = ", toml_string(truth)))
  }
  if (!(is.numeric(truth) || is.list(truth)) || length(truth) == 0L) {
    argument_error("'truth' must be the items' proportions (e.g. c(a = 0.7, b = 0.5)), a list with a beta per ",
                   "item (e.g. list(a = c(7, 3), b = 0.5)) or a hypothesis's name")
  }
  given <- names(truth)
  if (is.null(given)) {
    if (length(truth) != length(items)) {
      argument_error("'truth' has ", length(truth), " values but there are ", length(items), " items")
    }
    given <- items
  }
  vapply(seq_along(truth), function(j) {
    value <- truth[[j]]
    if (is.list(value)) value <- value$beta
    if (!is.numeric(value) || !(length(value) %in% c(1L, 2L)) || anyNA(value)) {
      argument_error("the truth of item '", given[j], "' must be a proportion or a beta's two shapes, c(A, B)")
    }
    entry <- if (length(value) == 1L) toml_number(value) else
      paste0("{ beta = ", toml_array(toml_number(value)), " }")
    paste0(toml_key(given[j]), " = ", entry)
  }, "")
}

# [design]'s sizes: `n` a vector (every item's trials at each size) or a matrix (one row
# per size, one column per item); or `total` with `weights`.
size_lines <- function(n, total, weights) {
  if (!is.null(n) && !is.null(total)) argument_error("give the sizes as 'n' or as 'total' (with 'weights'), not both")
  if (is.null(n) && is.null(total)) argument_error("give the sizes: 'n', the trials per item at each size")
  if (!is.null(total)) {
    total <- check_numbers(total, "total")
    lines <- paste0("total = ", toml_array(toml_number(total)))
    if (!is.null(weights)) lines <- c(lines, paste0("weights = ", toml_array(toml_number(check_numbers(weights, "weights")))))
    return(lines)
  }
  if (!is.null(weights)) argument_error("'weights' split a 'total'; with 'n' give the trials per item directly")
  if (is.matrix(n)) {
    if (!is.numeric(n) || anyNA(n) || nrow(n) == 0L) argument_error("'n' as a matrix holds the trials of each item (columns) at each size (rows)")
    rows <- vapply(seq_len(nrow(n)), function(s) toml_array(toml_number(n[s, ])), "")
    return(paste0("n = ", toml_array(rows)))
  }
  paste0("n = ", toml_array(toml_number(check_numbers(n, "n"))))
}

# The plan file that R's arguments describe, as text.
plan_text <- function(hypotheses, truth, n = NULL, total = NULL, weights = NULL, names = NULL, prior_a = 1,
                      prior_b = 1, tied_prior = NULL, datasets = NULL, thresholds = NULL,
                      against = NULL, target = NULL, target_threshold = NULL, seed = NULL, niter = NULL,
                      precision = NULL, max_niter = NULL, stop_when_decided = NULL, complexity_niter = NULL,
                      truth_sweeps = NULL) {
  if (missing(hypotheses) || !is.character(hypotheses) || length(hypotheses) == 0L || anyNA(hypotheses)) {
    argument_error("'hypotheses' must be a character vector of hypotheses, e.g. c(H1 = \"a > b > c\")")
  }
  if (missing(truth) || is.null(truth)) {
    argument_error("give 'truth', the proportions the data sets are drawn from (e.g. c(a = 0.7, b = 0.5))")
  }
  items <- plan_items(names, truth, n)
  labels <- names(hypotheses)
  if (is.null(labels)) labels <- rep("", length(hypotheses))
  unnamed <- is.na(labels) | labels == ""
  labels[unnamed] <- paste0("H", seq_along(hypotheses))[unnamed]
  priors <- lapply(list(prior_a = prior_a, prior_b = prior_b), function(value) check_numbers(value, "prior"))
  item_lines <- c("[items]", paste0("names = ", toml_array(toml_string(items))),
                  paste0("prior_a = ", if (length(priors$prior_a) == 1L) toml_number(priors$prior_a) else
                    toml_array(toml_number(priors$prior_a))),
                  paste0("prior_b = ", if (length(priors$prior_b) == 1L) toml_number(priors$prior_b) else
                    toml_array(toml_number(priors$prior_b))))
  if (!is.null(tied_prior)) {
    if (!is.character(tied_prior) || length(tied_prior) != 1L || is.na(tied_prior)) {
      argument_error("'tied_prior' must be \"conditional\" or \"common\"")
    }
    item_lines <- c(item_lines, paste0("tied_prior = ", toml_string(tied_prior)))
  }
  design <- size_lines(n, total, weights)
  # A setting given: its line as the engine reads it (numbers, strings, TRUE/FALSE).
  add <- function(key, value, kind = "number") {
    if (is.null(value)) return(invisible())
    if (kind == "logical") {
      if (!is.logical(value) || length(value) != 1L || is.na(value)) argument_error("'", key, "' must be TRUE or FALSE")
      text <- if (value) "true" else "false"
    } else if (kind == "numbers") {
      text <- toml_array(toml_number(check_numbers(value, key)))
    } else if (kind == "string") {
      if (!is.character(value) || length(value) != 1L || is.na(value)) argument_error("'", key, "' must be one string")
      text <- toml_string(value)
    } else if (kind == "precision" && identical(value, FALSE)) {
      text <- "false"
    } else {
      if (!is.numeric(value) || length(value) != 1L || is.na(value)) argument_error("'", key, "' must be one number")
      text <- toml_number(value)
    }
    design <<- c(design, paste0(key, " = ", text))
  }
  add("datasets", datasets)
  add("thresholds", thresholds, "numbers")
  add("against", against, "string")
  add("target", target)
  add("target_threshold", target_threshold)
  add("seed", seed)
  add("niter", niter)
  add("precision", precision, "precision")
  add("max_niter", max_niter)
  add("stop_when_decided", stop_when_decided, "logical")
  add("complexity_niter", complexity_niter)
  add("truth_sweeps", truth_sweeps)
  lines <- c(item_lines, "", "[hypotheses]", paste0(toml_key(labels), " = ", toml_string(hypotheses)), "",
             "[truth]", truth_lines(truth, items, labels), "", "[design]", design)
  paste0(paste(lines, collapse = "\n"), "\n")
}

# The exported function: a plan file, or the plan as arguments.
bf_plan <- function(plan = NULL, hypotheses, truth, n = NULL, total = NULL, weights = NULL, names = NULL,
                    prior_a = 1, prior_b = 1, datasets = NULL, thresholds = NULL, against = NULL, target = NULL,
                    target_threshold = NULL, seed = NULL, niter = NULL, precision = NULL, max_niter = NULL,
                    threads = NULL, progress = interactive(), ...) {
  if (!is.null(plan)) {
    if (!is.character(plan) || length(plan) != 1L || is.na(plan)) {
      argument_error("'plan' must be the path of a plan file (TOML), or leave it out and give the plan as arguments")
    }
    given <- setdiff(base::names(match.call())[-1L], c("plan", "threads", "progress"))
    if (length(given) > 0L) {
      argument_error("give the plan either as a file ('plan') or as arguments, not both: ",
                     paste0("'", given, "'", collapse = ", "), " with a file")
    }
    label <- path.expand(plan)
    content <- ""
  } else {
    label <- plan_label
    content <- plan_text(hypotheses, truth, n = n, total = total, weights = weights, names = names,
                         prior_a = prior_a, prior_b = prior_b, datasets = datasets, thresholds = thresholds,
                         against = against, target = target, target_threshold = target_threshold, seed = seed,
                         niter = niter, precision = precision, max_niter = max_niter, ...)
  }
  result <- .Call(propbf_plan, enc2utf8(label), enc2utf8(content), !is.null(plan), run_threads(threads),
                  isTRUE(progress), as.character(packageVersion("propbf")))
  if (result$status == "input_error" && is.null(plan)) result$message <- with_written_line(result$message, content)
  object <- propbf_result(result, match.call())
  class(object) <- "propbf_plan"
  object
}

# A message placed in the text written from the arguments ("bf_plan():L:C: ...") with
# that line beside it, as the caller never saw the text.
with_written_line <- function(message, content) {
  prefix <- paste0("^", gsub("([().])", "\\\\\\1", plan_label), ":([0-9]+):")
  if (!grepl(prefix, message)) return(message)
  line <- as.integer(sub(paste0(prefix, ".*"), "\\1", message))
  lines <- strsplit(content, "\n", fixed = TRUE)[[1]]
  if (is.na(line) || line < 1L || line > length(lines)) return(message)
  paste0(message, " (in the plan written from the arguments, line ", line, ": ", lines[line], ")")
}
