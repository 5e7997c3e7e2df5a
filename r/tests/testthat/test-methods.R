# coef() and confint(): types, names and values, Inf and 0 kept as the engine gives them.
fit <- bf_proportions(c(a = 7, b = 5, c = 3), c(10, 10, 10), c(H1 = "a > b > c", H2 = "a > 0.5"),
                      niter = 2000, seed = 1, threads = 1, progress = FALSE)

test_that("coef() is the named means of one hypothesis", {
  cases <- list(list(hypothesis = NULL, name = "H1"), list(hypothesis = 2L, name = "H2"),
                list(hypothesis = "H2", name = "H2"))
  for (case in cases) {
    means <- if (is.null(case$hypothesis)) coef(fit) else coef(fit, hypothesis = case$hypothesis)
    expect_type(means, "double")
    expect_named(means, c("a", "b", "c"))
    expect_equal(unname(means), fit$hypotheses[[case$name]]$estimates$mean)
  }
  expect_error(coef(fit, hypothesis = "H9"), "no hypothesis named 'H9'")
})

test_that("confint() gives the factors' intervals per hypothesis", {
  cases <- list(list(factor = NULL, member = "bf_unconstrained_interval"),
                list(factor = "unconstrained", member = "bf_unconstrained_interval"),
                list(factor = "complement", member = "bf_complement_interval"))
  for (case in cases) {
    ends <- if (is.null(case$factor)) confint(fit) else confint(fit, factor = case$factor)
    expect_true(is.matrix(ends) && is.double(ends))
    expect_equal(dimnames(ends), list(c("H1", "H2"), c("2.5 %", "97.5 %")))
    for (h in c("H1", "H2")) expect_equal(unname(ends[h, ]), fit$hypotheses[[h]][[case$member]])
  }
  expect_equal(rownames(confint(fit, "H2")), "H2")
  expect_error(confint(fit, level = 0.9), "0.95 only")
})

test_that("infinite and zero factors stay Inf and 0", {
  # A prior of mean 1e-6 puts 0.5^1e6 of its mass above 0.5, beyond the 32 levels of a rare
  # stage (no hit in the last), while every posterior draw lies above: an infinite factor.
  infinite <- bf_proportions(c(a = 1e7), 1e7, c(H = "a > 0.5"), prior_b = 1e6, niter = 2000, seed = 2, threads = 1,
                             progress = FALSE)
  zero <- bf_proportions(c(a = 100), 100, c(H = "a < 0.3"), niter = 2000, seed = 1, threads = 1,
                         progress = FALSE)
  cases <- list(list(fit = infinite, factor = Inf, upper = Inf), list(fit = zero, factor = 0, lower = 0))
  for (case in cases) {
    expect_identical(case$fit$hypotheses$H$bf_unconstrained, case$factor)
    expect_identical(as.data.frame(case$fit)$bf_unconstrained, case$factor)
    ends <- confint(case$fit)
    expect_false(anyNA(ends))
    if (!is.null(case$upper)) expect_identical(ends[["H", "97.5 %"]], case$upper)
    if (!is.null(case$lower)) expect_identical(ends[["H", "2.5 %"]], case$lower)
  }
})

test_that("the factors between hypotheses keep Inf and 0", {
  fit <- bf_proportions(c(a = 1e7, b = 0), c(1e7, 100), c(H = "a > 0.5", G = "a < 0.3", K = "b < 0.5"),
                        prior_b = c(1e6, 1), niter = 2000, seed = 2, threads = 1, progress = FALSE)
  factors <- vapply(fit$hypotheses, function(h) h$bf_unconstrained, 0)
  expect_identical(unname(factors[c("H", "G")]), c(Inf, 0))
  expect_identical(fit$bf_matrix["H", "K"], Inf)
  expect_identical(fit$bf_matrix["K", "H"], 0)
  expect_identical(fit$bf_matrix["G", "K"], 0)
  expect_identical(fit$bf_matrix["K", "G"], Inf)
  expect_identical(unname(diag(fit$bf_matrix)), c(1, 1, 1))
  expect_identical(as.data.frame(fit)$bf_unconstrained[1:2], c(Inf, 0))
  expect_match(bf_report(fit)[["H"]], "^H \\(a > 0.5\\): Bayes factor Inf \\(95% interval [0-9.e+]+ to Inf\\)")
  expect_match(bf_report(fit)[["G"]], "^G \\(a < 0.3\\): Bayes factor 0 \\(95% interval 0 to ")
})

test_that("bf_report() gives one quotable line per hypothesis, as text and as a table", {
  lines <- bf_report(fit)
  expect_type(lines, "character")
  expect_named(lines, c("H1", "H2"))
  h1 <- fit$hypotheses$H1
  expect_identical(lines[["H1"]], paste0(
    "H1 (a > b > c): Bayes factor ", signif(h1$bf_unconstrained, 3), " (95% interval ",
    signif(h1$bf_unconstrained_interval[1], 3), " to ", signif(h1$bf_unconstrained_interval[2], 3),
    ") against the unconstrained hypothesis, ", signif(h1$bf_complement, 3), " (95% interval ",
    signif(h1$bf_complement_interval[1], 3), " to ", signif(h1$bf_complement_interval[2], 3),
    ") against its complement; posterior probability ", signif(h1$pmp, 3), " among the listed hypotheses."))
  table <- bf_report(fit, type = "table")
  expect_s3_class(table, "data.frame")
  expect_identical(dim(table), c(2L, 6L))
  expect_identical(table$Hypothesis, c("H1: a > b > c", "H2: a > 0.5"))
  skip_if_not_installed("knitr")
  expect_s3_class(bf_report(fit, type = "kable"), "knitr_kable")
  single <- bf_proportions(c(a = 7), 10, c(H = "a = 0.5"), niter = 2000, threads = 1, progress = FALSE)
  expect_match(bf_report(bf_proportions(c(a = 7), 10, c(H = "a > 0.5"), niter = 2000, threads = 1, progress = FALSE)),
               "posterior probability [0-9.]+ against its complement\\.$")
  expect_match(bf_report(single),
               paste0("not defined against its complement; posterior probability [0-9.]+ against the ",
                      "unconstrained hypothesis\\.$"))
})

test_that("summary() prints within 80 columns; format() gives print()'s lines", {
  long <- bf_proportions(c(first_item_with_a_long_name = 7, second_item_with_a_long_name = 5), c(10, 10),
                         c(a_hypothesis_with_a_long_name = "first_item_with_a_long_name > second_item_with_a_long_name",
                           another_one_named_at_length = "first_item_with_a_long_name > 0.5"),
                         niter = 2000, threads = 1, progress = FALSE)
  for (object in list(fit, long)) {
    lines <- capture.output(print(summary(object)))
    expect_lte(max(nchar(lines)), 80L)
  }
  expect_type(format(fit), "character")
  expect_identical(capture.output(print(fit)), format(fit))
  expect_identical(paste0(paste(format(fit), collapse = "\n"), "\n"), fit$table)
})

test_that("the default thread count is the option's, else at most two", {
  withr_option <- function(value, code) {
    old <- options(propbf.threads = value)
    on.exit(options(old))
    code
  }
  expect_identical(withr_option(1, propbf:::run_threads(NULL)), 1)
  expect_identical(withr_option(NULL, propbf:::run_threads(NULL)) <= 2, TRUE)
  expect_identical(withr_option(1, propbf:::run_threads(2)), 2)
  expect_error(withr_option("two", propbf:::run_threads(NULL)), "'threads' must be one number",
               class = "propbf_argument_error")
})
