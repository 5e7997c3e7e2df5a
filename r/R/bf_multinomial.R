# Items of categories: counts per category, Dirichlet priors, hypotheses in the language
# (item[c]) and polytopes given as R matrices (a restriction matrix A, b or vertices V).
# As for bf_proportions(), only the kind of each argument is checked here; the counts,
# names, priors, matrices and settings are the engine's to check and refuse.

# The counts of a data frame: one row per item and category with a count column, or one
# row per observation. Items and categories in order of first appearance (or of a
# factor's levels); a category an item never shows counts 0.
count_categories <- function(data, item, category, count) {
  if (!is.data.frame(data)) argument_error("'data' must be a data frame")
  for (column in list(list(item, "item"), list(category, "category"))) {
    if (!is.character(column[[1]]) || length(column[[1]]) != 1L || !column[[1]] %in% names(data)) {
      argument_error("'", column[[2]], "' must name a column of 'data'")
    }
  }
  if (!is.null(count) && (!is.character(count) || length(count) != 1L || !count %in% names(data))) {
    argument_error("'count' must name a column of 'data' (or be NULL: one row per observation)")
  }
  if (nrow(data) == 0L) argument_error("'data' has no rows: there are no observations to count")
  levels_of <- function(x, what) {
    if (anyNA(x)) argument_error("column '", what, "' holds a missing value (NA)")
    if (is.factor(x)) levels(droplevels(x)) else unique(as.character(x))
  }
  items <- levels_of(data[[item]], item)
  weights <- if (is.null(count)) rep(1, nrow(data)) else check_numbers(data[[count]], count)
  counts <- list()
  categories <- list()
  for (name in items) {
    rows <- as.character(data[[item]]) == name
    levels <- levels_of(data[[category]][rows], category)
    counts[[name]] <- vapply(levels, function(c) sum(weights[rows & as.character(data[[category]]) == c]), 0,
                             USE.NAMES = FALSE)
    categories[[name]] <- levels
  }
  list(counts = counts, categories = categories)
}

# One polytope of one hypothesis as the engine reads it.
polytope_argument <- function(matrix, b, form, label) {
  if (is.data.frame(matrix)) matrix <- as.matrix(matrix)
  if (!is.matrix(matrix) || !(is.numeric(matrix) || is.logical(matrix))) {
    argument_error("'", label, "' must be a numeric matrix with columns named by the free parameters, e.g. \"a[1]\"")
  }
  headers <- colnames(matrix)
  if (is.null(headers)) {
    argument_error("'", label, "' has no column names; name its columns by the free parameters (item[c], the first ",
                   "K - 1 categories of each item)")
  }
  if (form == "matrix") {
    if (is.null(b)) argument_error("'", sub("A$", "b", label), "' is missing: a matrix A needs its right-hand side b")
    b <- as.numeric(b)
    if (length(b) != nrow(matrix)) {
      argument_error("'", sub("A$", "b", label), "' has ", length(b), " values but 'A' has ", nrow(matrix), " rows")
    }
  }
  list(label = label, form = form, headers = enc2utf8(as.character(headers)),
       values = as.numeric(t(matrix)), b = if (is.null(b)) numeric() else b, rows = as.numeric(nrow(matrix)))
}

# The polytopes of each hypothesis, in the order of `labels`.
polytope_arguments <- function(polytopes, labels) {
  lapply(labels, function(name) {
    given <- polytopes[[name]]
    if (is.null(given)) return(list())
    if (!is.list(given) || is.null(names(given)) || !all(names(given) %in% c("A", "b", "V"))) {
      argument_error("polytopes$", name, " must be a list with 'A' and 'b' (A theta <= b) and/or 'V' (vertices)")
    }
    out <- list()
    if (!is.null(given$A)) {
      out <- c(out, list(polytope_argument(given$A, given$b, "matrix", paste0("polytopes$", name, "$A"))))
    } else if (!is.null(given$b)) {
      argument_error("polytopes$", name, " has 'b' but no 'A'")
    }
    if (!is.null(given$V)) out <- c(out, list(polytope_argument(given$V, NULL, "vertices", paste0("polytopes$", name, "$V"))))
    out
  })
}

# The engine's run of items of categories: a list of status, message and value (the
# results as R data, or with json = TRUE the engine's JSON document as text).
run_categories <- function(json, counts, hypotheses, categories, prior, polytopes, names, niter, seed, precision,
                           max_niter, threads, data, item, category, count, progress, samples = FALSE, thin = NULL) {
  if (!is.null(data)) {
    if (!missing(counts)) argument_error("give either 'counts' or 'data' (with 'item', 'category' and 'count'), not both")
    counted <- count_categories(data, item, category, count)
    counts <- counted$counts
    if (is.null(categories)) categories <- counted$categories
  } else if (missing(counts)) {
    argument_error("give 'counts' (a matrix of items by categories or a list of count vectors) or 'data'")
  }
  if (is.data.frame(counts)) counts <- as.matrix(counts)
  if (is.matrix(counts)) {
    if (is.null(names)) names <- rownames(counts)
    if (is.null(categories) && !is.null(colnames(counts))) {
      categories <- rep(list(colnames(counts)), nrow(counts))
    }
    counts <- lapply(seq_len(nrow(counts)), function(j) counts[j, ])
  } else if (is.list(counts)) {
    if (is.null(names)) names <- names(counts)
    if (is.null(categories)) {
      categories <- lapply(counts, function(x) if (is.null(names(x))) NULL else names(x))
      if (all(vapply(categories, is.null, TRUE))) categories <- NULL
    }
  } else {
    argument_error("'counts' must be a matrix (items by categories) or a list of count vectors, one per item")
  }
  if (length(counts) == 0L) argument_error("'counts' holds no item")
  counts <- lapply(seq_along(counts), function(j) check_numbers(counts[[j]], paste0("counts[[", j, "]]")))
  if (is.null(names)) {
    argument_error("the items have no names: give 'names' or name the rows of 'counts' (or its elements)")
  }
  if (!is.character(names) || anyNA(names) || length(names) != length(counts)) {
    argument_error("'names' must be a character vector with one name per item (", length(counts), ")")
  }
  if (is.null(categories)) {
    categories <- rep(list(NULL), length(counts))
  } else {
    if (is.character(categories) && length(counts) == 1L) categories <- list(categories)
    if (!is.list(categories) || length(categories) != length(counts)) {
      argument_error("'categories' must be a list with the category names of each item (", length(counts), ")")
    }
    categories <- lapply(categories, function(x) if (is.null(x)) NULL else enc2utf8(as.character(x)))
  }
  prior <- if (is.list(prior)) {
    lapply(seq_along(prior), function(j) check_numbers(prior[[j]], paste0("prior[[", j, "]]")))
  } else {
    as.list(check_numbers(prior, "prior"))
  }
  if (is.null(hypotheses)) hypotheses <- character()
  if (!is.character(hypotheses) || anyNA(hypotheses)) {
    argument_error("'hypotheses' must be a character vector of hypotheses, e.g. c(H1 = \"x[1] > x[2]\")")
  }
  labels <- names(hypotheses)
  if (is.null(labels)) labels <- rep("", length(hypotheses))
  unnamed <- is.na(labels) | labels == ""
  labels[unnamed] <- paste0("H", seq_along(hypotheses))[unnamed]
  names(hypotheses) <- labels
  if (!is.null(polytopes)) {
    if (!is.list(polytopes) || is.null(names(polytopes)) || any(names(polytopes) == "")) {
      argument_error("'polytopes' must be a named list, e.g. list(H1 = list(A = A, b = b))")
    }
    extra <- setdiff(names(polytopes), labels)
    hypotheses <- c(hypotheses, stats::setNames(rep("", length(extra)), extra))
  }
  if (length(hypotheses) == 0L) argument_error("give at least one hypothesis ('hypotheses' or 'polytopes')")
  given <- polytope_arguments(if (is.null(polytopes)) list() else polytopes, names(hypotheses))
  settings <- c(setting(niter, "niter"), setting(seed, "seed"), setting(precision, "precision"),
                setting(max_niter, "max_niter"), 0, sample_settings(samples && !json, thin))
  result <- .Call(propbf_run_categories, enc2utf8(as.character(names)), counts, categories, prior,
                  enc2utf8(names(hypotheses)), enc2utf8(unname(hypotheses)), given, settings, run_threads(threads),
                  isTRUE(progress), as.character(packageVersion("propbf")), isTRUE(json))
  if (!json) return(result)
  if (result$status != "ok") stop(propbf_condition(result$message, "propbf_input_error"))
  result$value
}

# The exported function: arguments checked here for their kind, everything else by the
# engine.
bf_multinomial <- function(counts, hypotheses = NULL, categories = NULL, prior = 1, polytopes = NULL, names = NULL,
                           niter = NULL, seed = NULL, precision = NULL, max_niter = NULL, threads = NULL, data = NULL,
                           item = NULL, category = NULL, count = NULL, progress = interactive(), samples = TRUE,
                           thin = NULL) {
  result <- run_categories(FALSE, counts, hypotheses, categories, prior, polytopes, names, niter, seed, precision,
                           max_niter, threads, data, item, category, count, progress, samples, thin)
  propbf_result(result, match.call())
}
