# Errors of the package: propbf_argument_error (an argument of the wrong kind, found
# here), propbf_input_error (what the engine refuses, with its message), propbf_interrupted
# and propbf_engine_error. The limits and defaults of a problem (sweeps, seed, precision,
# threads, shapes) are the engine's: this side passes the arguments through and lets the
# engine refuse; engine_limits() reads them.
propbf_condition <- function(message, class) {
  structure(class = c(class, "propbf_error", "error", "condition"),
            list(message = message, call = NULL))
}

argument_error <- function(...) {
  stop(propbf_condition(paste0(...), "propbf_argument_error"))
}

check_numbers <- function(x, what) {
  if (is.logical(x) && !anyNA(x)) x <- as.numeric(x)
  if (!is.numeric(x) || length(x) == 0L) argument_error("'", what, "' must be a non-empty numeric vector")
  if (anyNA(x)) argument_error("'", what, "' holds a missing value (NA)")
  as.numeric(x)
}

# A setting as the engine reads it: NA when not given (the engine's default).
setting <- function(x, what) {
  if (is.null(x)) return(NA_real_)
  if (!is.numeric(x) || length(x) != 1L || is.na(x)) argument_error("'", what, "' must be one number (or NULL)")
  as.numeric(x)
}

# Whether the run keeps posterior samples, and every how many sweeps (NA: the engine's
# default, at most 10000 rows per hypothesis): the last two settings.
sample_settings <- function(samples, thin) {
  if (!is.logical(samples) || length(samples) != 1L || is.na(samples)) argument_error("'samples' must be TRUE or FALSE")
  c(if (samples) 1 else 0, setting(thin, "thin"))
}

# The engine's defaults and limits: niter, seed and max_niter by default, the most sweeps
# per stage and threads, the smallest and largest beta shapes.
engine_limits <- function() .Call(propbf_limits)

# The threads of a run: the argument, else getOption("propbf.threads"), else two (one on
# a machine with one processor). 0 asks for one per processor.
run_threads <- function(threads) {
  if (is.null(threads)) threads <- getOption("propbf.threads")
  if (is.null(threads)) return(min(2, engine_limits()$processors))
  setting(threads, "threads")
}

# Counts of 0/1 outcomes per group: groups in the order of their first appearance (the
# levels of a factor, in their order; levels without observations are dropped, with a
# message).
count_outcomes <- function(data, outcome, group, named) {
  if (!is.data.frame(data)) argument_error("'data' must be a data frame")
  for (column in list(list(outcome, "outcome"), list(group, "group"))) {
    if (!is.character(column[[1]]) || length(column[[1]]) != 1L || !column[[1]] %in% names(data)) {
      argument_error("'", column[[2]], "' must name a column of 'data'")
    }
  }
  if (nrow(data) == 0L) argument_error("'data' has no rows: there are no observations to count")
  y <- data[[outcome]]
  g <- data[[group]]
  if (is.logical(y)) y <- as.numeric(y)
  if (!is.numeric(y) || anyNA(y) || any(y != 0 & y != 1)) {
    argument_error("column '", outcome, "' must hold outcomes 0 and 1 (or FALSE and TRUE), without NA")
  }
  if (anyNA(g)) argument_error("column '", group, "' holds a missing value (NA)")
  if (is.numeric(g) && !named) {
    argument_error("column '", group, "' holds numbers; they would be taken as labels, the items' names, which the ",
                   "hypotheses cannot use (a name starts with a letter or '_'): turn them into names, e.g. ",
                   "paste0(\"g\", data$", group, "), or give 'names', one per group in order of first appearance")
  }
  if (is.factor(g)) {
    unused <- setdiff(levels(g), as.character(unique(g)))
    if (length(unused) > 0L) {
      message("propbf: level", if (length(unused) > 1L) "s" else "", " ", paste0("'", unused, "'", collapse = ", "),
              " of column '", group, "' ha", if (length(unused) > 1L) "ve" else "s",
              " no observations and ", if (length(unused) > 1L) "are" else "is", " dropped")
      g <- droplevels(g)
    }
    levels <- levels(g)
    index <- as.integer(g)
  } else {
    g <- as.character(g)
    levels <- unique(g)
    index <- match(g, levels)
  }
  list(names = levels,
       successes = as.numeric(tabulate(index[y == 1], nbins = length(levels))),
       trials = as.numeric(tabulate(index, nbins = length(levels))))
}

# The engine's run: a list of status, message and value (the results as R data, or with
# json = TRUE the engine's JSON document as text).
run_engine <- function(names, successes, trials, prior_a, prior_b, hypotheses, niter = NULL, seed = NULL,
                       precision = NULL, max_niter = NULL, threads = NULL, progress = FALSE, json = FALSE,
                       tied_prior = "conditional", samples = FALSE, thin = NULL) {
  if (!is.character(tied_prior) || length(tied_prior) != 1L || !(tied_prior %in% c("conditional", "common"))) {
    argument_error("'tied_prior' must be \"conditional\" or \"common\"")
  }
  settings <- c(setting(niter, "niter"), setting(seed, "seed"), setting(precision, "precision"),
                setting(max_niter, "max_niter"), if (tied_prior == "common") 1 else 0,
                sample_settings(samples && !isTRUE(json), thin))
  threads <- run_threads(threads)
  .Call(propbf_run, enc2utf8(as.character(names)), as.numeric(successes), as.numeric(trials), as.numeric(prior_a),
        as.numeric(prior_b), enc2utf8(names(hypotheses)), enc2utf8(unname(hypotheses)), settings, threads,
        isTRUE(progress), as.character(packageVersion("propbf")), isTRUE(json))
}

# The engine's JSON document of a problem (the document `propbf evaluate --json` writes),
# as text.
engine_json <- function(...) {
  result <- run_engine(..., json = TRUE)
  if (result$status != "ok") stop(propbf_condition(result$message, "propbf_input_error"))
  result$value
}

# The exported function: arguments checked here for their kind, everything else by the
# engine.
bf_proportions <- function(successes, trials, hypotheses, prior_a = 1, prior_b = 1, names = NULL, niter = NULL,
                           seed = NULL, precision = NULL, max_niter = NULL, threads = NULL, data = NULL,
                           outcome = NULL, group = NULL, progress = interactive(), tied_prior = "conditional",
                           samples = TRUE, thin = NULL) {
  if (!is.null(data)) {
    if (!missing(successes) || !missing(trials)) {
      argument_error("give either 'data' (with 'outcome' and 'group') or 'successes' and 'trials', not both")
    }
    counts <- count_outcomes(data, outcome, group, named = !is.null(names))
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
  successes <- check_numbers(successes, "successes")
  trials <- check_numbers(trials, "trials")
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
  unnamed <- is.na(labels) | labels == ""
  labels[unnamed] <- paste0("H", seq_along(hypotheses))[unnamed]
  names(hypotheses) <- labels
  result <- run_engine(names, successes, trials, prior_a, prior_b, hypotheses, niter = niter, seed = seed,
                       precision = precision, max_niter = max_niter, threads = threads, progress = progress,
                       tied_prior = tied_prior, samples = samples, thin = thin)
  propbf_result(result, match.call())
}

# The engine's answer as the caller gets it: the fit (of class "propbf", with the call),
# or the condition its status names (an interrupt is signalled as one first).
propbf_result <- function(result, call) {
  switch(result$status,
         ok = NULL,
         input_error = stop(propbf_condition(result$message, "propbf_input_error")),
         interrupted = {
           signalCondition(structure(class = c("interrupt", "condition"), list(message = result$message, call = NULL)))
           stop(propbf_condition(result$message, "propbf_interrupted"))
         },
         stop(propbf_condition(result$message, "propbf_engine_error")))
  object <- result$value
  object$call <- call
  structure(object, class = "propbf")
}
