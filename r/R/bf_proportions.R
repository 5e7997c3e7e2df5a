# Errors of the package: propbf_argument_error (an argument of the wrong kind),
# propbf_input_error (what the engine refuses, with its message), propbf_interrupted and
# propbf_engine_error.
propbf_condition <- function(message, class) {
  structure(class = c(class, "propbf_error", "error", "condition"),
            list(message = message, call = NULL))
}

argument_error <- function(...) {
  stop(propbf_condition(paste0(...), "propbf_argument_error"))
}

check_numbers <- function(x, what, whole = FALSE) {
  if (is.logical(x) && whole) x <- as.numeric(x)
  if (!is.numeric(x) || length(x) == 0L) argument_error("'", what, "' must be a non-empty numeric vector")
  if (anyNA(x)) argument_error("'", what, "' holds a missing value (NA)")
  if (whole && any(!is.finite(x) | x != trunc(x) | abs(x) > 2^53)) {
    argument_error("'", what, "' must hold whole numbers")
  }
  as.numeric(x)
}

check_setting <- function(x, what, low, high = Inf, whole = TRUE) {
  if (is.null(x)) return(NA_real_)
  if (!is.numeric(x) || length(x) != 1L || is.na(x)) argument_error("'", what, "' must be one number")
  if (whole && (x != trunc(x) || x < low || x > high)) {
    argument_error("'", what, "' must be a whole number from ", format(low, scientific = FALSE), " to ",
                   format(high, scientific = FALSE))
  }
  as.numeric(x)
}

# Counts of 0/1 outcomes per group: groups in the order of their first appearance (the
# levels of a factor, in their order).
count_outcomes <- function(data, outcome, group) {
  if (!is.data.frame(data)) argument_error("'data' must be a data frame")
  for (column in list(list(outcome, "outcome"), list(group, "group"))) {
    if (!is.character(column[[1]]) || length(column[[1]]) != 1L || !column[[1]] %in% names(data)) {
      argument_error("'", column[[2]], "' must name a column of 'data'")
    }
  }
  y <- data[[outcome]]
  g <- data[[group]]
  if (is.logical(y)) y <- as.numeric(y)
  if (!is.numeric(y) || anyNA(y) || any(y != 0 & y != 1)) {
    argument_error("column '", outcome, "' must hold outcomes 0 and 1 (or FALSE and TRUE), without NA")
  }
  if (anyNA(g)) argument_error("column '", group, "' holds a missing value (NA)")
  levels <- if (is.factor(g)) levels(g) else unique(as.character(g))
  g <- factor(as.character(g), levels = levels)
  list(names = levels,
       successes = as.numeric(tapply(y, g, sum, default = 0)),
       trials = as.numeric(tabulate(g, nbins = length(levels))))
}

# The engine's run: a list of status, message, table, json and the key figures.
run_engine <- function(names, successes, trials, prior_a, prior_b, hypotheses, niter = 20000, seed = 1,
                       precision = NULL, max_niter = NULL, threads = NULL, progress = FALSE) {
  settings <- c(check_setting(niter, "niter", 1, 2^40), check_setting(seed, "seed", 0, 2^53),
                check_setting(precision, "precision", 0, 1, whole = FALSE), check_setting(max_niter, "max_niter", 1, 2^40))
  if (!is.na(settings[3]) && !(settings[3] > 0 && settings[3] < 1)) {
    argument_error("'precision' must be a number between 0 and 1 (both excluded)")
  }
  if (!is.na(settings[4]) && is.na(settings[3])) {
    argument_error("'max_niter' applies only in precision mode; give 'precision' too")
  }
  if (!is.na(settings[4]) && settings[4] < settings[1]) {
    argument_error("'max_niter' (", settings[4], ") must be at least 'niter' (", settings[1], ")")
  }
  if (is.null(threads)) threads <- 0L
  if (!is.numeric(threads) || length(threads) != 1L || is.na(threads) || threads < 0 || threads > 1024 ||
      threads != trunc(threads)) {
    argument_error("'threads' must be a whole number from 1 to 1024 (or NULL: one per processor)")
  }
  .Call(propbf_run, enc2utf8(as.character(names)), successes, trials, prior_a, prior_b,
        enc2utf8(names(hypotheses)), enc2utf8(unname(hypotheses)), settings, as.integer(threads),
        isTRUE(progress), as.character(packageVersion("propbf")))
}

# The exported function: arguments checked here, everything else by the engine.
bf_proportions <- function(successes, trials, hypotheses, prior_a = 1, prior_b = 1, names = NULL, niter = 20000,
                           seed = 1, precision = NULL, max_niter = NULL, threads = NULL, data = NULL,
                           outcome = NULL, group = NULL, progress = interactive()) {
  if (!is.null(data)) {
    if (!missing(successes) || !missing(trials)) {
      argument_error("give either 'data' (with 'outcome' and 'group') or 'successes' and 'trials', not both")
    }
    counts <- count_outcomes(data, outcome, group)
    successes <- counts$successes
    trials <- counts$trials
    if (is.null(names)) names <- counts$names
  } else {
    if (missing(successes) || missing(trials)) {
      argument_error("give 'successes' and 'trials' (or 'data', 'outcome' and 'group')")
    }
    if (is.null(names)) names <- names(successes)
    if (is.null(names)) names <- names(trials)
  }
  if (missing(hypotheses) || !is.character(hypotheses) || length(hypotheses) == 0L || anyNA(hypotheses)) {
    argument_error("'hypotheses' must be a character vector of hypotheses, e.g. c(H1 = \"a > b > c\")")
  }
  successes <- check_numbers(successes, "successes", whole = TRUE)
  trials <- check_numbers(trials, "trials", whole = TRUE)
  if (length(successes) != length(trials)) {
    argument_error("'successes' has ", length(successes), " values but 'trials' has ", length(trials))
  }
  if (is.null(names)) {
    argument_error("the items have no names: give 'names' or name the values of 'successes'")
  }
  if (!is.character(names) || anyNA(names) || length(names) != length(successes)) {
    argument_error("'names' must be a character vector with one name per item (", length(successes), ")")
  }
  for (prior in c("prior_a", "prior_b")) {
    value <- check_numbers(get(prior), prior)
    if (length(value) != 1L && length(value) != length(successes)) {
      argument_error("'", prior, "' has ", length(value), " values but there are ", length(successes),
                     " items; give one number for all or one per item")
    }
    assign(prior, value)
  }
  labels <- names(hypotheses)
  if (is.null(labels)) labels <- rep("", length(hypotheses))
  labels[is.na(labels) | labels == ""] <- paste0("H", seq_along(hypotheses))[is.na(labels) | labels == ""]
  if (anyDuplicated(labels)) argument_error("hypothesis name '", labels[anyDuplicated(labels)], "' is given twice")
  names(hypotheses) <- labels
  result <- run_engine(names, successes, trials, prior_a, prior_b, hypotheses, niter = niter, seed = seed,
                       precision = precision, max_niter = max_niter, threads = threads, progress = progress)
  switch(result$status,
         ok = NULL,
         input_error = stop(propbf_condition(result$message, "propbf_input_error")),
         interrupted = {
           signalCondition(structure(class = c("interrupt", "condition"), list(message = result$message, call = NULL)))
           stop(propbf_condition(result$message, "propbf_interrupted"))
         },
         stop(propbf_condition(result$message, "propbf_engine_error")))
  new_propbf(result$json, result$table, match.call())
}

# The object: every member of the engine's JSON document (numbers exactly as written:
# shortest round-trip text), the hypotheses named, plus the table and the document.
new_propbf <- function(json, table, call) {
  document <- jsonlite::fromJSON(json, simplifyVector = TRUE, simplifyDataFrame = FALSE, simplifyMatrix = TRUE)
  hypothesis_names <- vapply(document$hypotheses, function(h) h$name, "")
  names(document$hypotheses) <- hypothesis_names
  if (is.matrix(document$bf_matrix)) dimnames(document$bf_matrix) <- list(hypothesis_names, hypothesis_names)
  document$call <- call
  document$table <- table
  document$json <- json
  structure(document, class = "propbf")
}
