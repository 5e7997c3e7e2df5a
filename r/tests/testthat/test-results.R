test_that("one item above a bound: the exact factor lies inside its interval", {
  # complexity 1/2, fit P(Beta(8, 4) > 1/2): the factor is 2 * (1 - pbeta(0.5, 8, 4)).
  fit <- bf_proportions(c(a = 7), 10, c(H1 = "a > 0.5"), niter = 20000, threads = 1, progress = FALSE)
  row <- as.data.frame(fit)
  truth <- 2 * (1 - pbeta(0.5, 8, 4))
  margin <- (row$bf_unconstrained_upper - row$bf_unconstrained_lower) / 2
  expect_gt(truth, row$bf_unconstrained_lower - margin)
  expect_lt(truth, row$bf_unconstrained_upper + margin)
  expect_equal(nrow(row), 1L)
  expect_true(all(c("complexity", "fit", "bf_unconstrained", "bf_complement", "bf_complement_lower",
                    "bf_complement_upper", "pmp", "pmp_with_unconstrained", "pmp_complement") %in% names(row)))
  expect_identical(fit$settings$niter, 20000)
})

test_that("the results are the same R data and the same document for every thread count", {
  p <- problems$priors
  fits <- lapply(1:2, function(threads) without_call(fit_problem(p, threads = threads)))
  expect_identical(fits[[2]], fits[[1]])
  json <- propbf:::engine_json(names(p$successes), p$successes, p$trials, p$prior_a, p$prior_b, p$hypotheses,
                               niter = 3000, threads = 2)
  # Each figure of the R data is the number the document writes (shortest round-trip text).
  figure <- function(name) {
    as.numeric(sub(".*: ", "", regmatches(json, gregexpr(paste0('"', name, '": [-0-9.e+]+'), json))[[1]]))
  }
  row <- as.data.frame(fit_problem(p, threads = 1))
  for (name in c("complexity", "fit", "bf_unconstrained", "bf_complement", "pmp", "pmp_with_unconstrained")) {
    expect_identical(row[[name]], figure(name), info = name)
  }
})

test_that("raw 0/1 observations give the run of their counts; unused levels are dropped with a message", {
  d <- data.frame(item = factor(rep(c("b", "a"), c(10, 12)), levels = c("a", "z", "b")),
                  correct = c(rep(1, 6), rep(0, 4), rep(c(TRUE, FALSE), 6)))
  expect_message(from_data <- bf_proportions(data = d, outcome = "correct", group = "item", hypotheses = "a > b",
                                             niter = 2000, threads = 1, progress = FALSE),
                 "level 'z' of column 'item' has no observations and is dropped")
  from_counts <- bf_proportions(c(a = 6, b = 6), c(12, 10), "a > b", niter = 2000, threads = 1, progress = FALSE)
  expect_identical(without_call(from_data), without_call(from_counts))
  expect_named(from_data$hypotheses, "H1")
})

test_that("mistakes end with their class and the engine's message", {
  expect_error(bf_proportions(c(a = 1, b = 2), c(3, 3), c(H1 = "a > b", H2 = "a >> b"), progress = FALSE),
               "hypotheses:2:4: hypothesis H2: .*\n    a >> b\n       \\^", class = "propbf_input_error")
  expect_error(bf_proportions(c(a = 1, b = 2), c(3, 3), c(H1 = "a > z"), progress = FALSE),
               "hypotheses:1:5", class = "propbf_input_error")
  expect_error(bf_proportions(c(a = 4, b = 2), c(3, 3), "a > b", progress = FALSE),
               "^item 'a' has more successes \\(4\\) than trials \\(3\\)$", class = "propbf_input_error")
  expect_error(bf_proportions(c(a = 1, b = 2), c(3, 3), c(unconstrained = "a > b"), progress = FALSE),
               "^hypotheses:1:1: a hypothesis may not be named 'unconstrained'", class = "propbf_input_error")
  expect_error(bf_proportions(c(a = 1, b = 2), c(3, 3), c(H = "a > b", H = "b > 0.1"), progress = FALSE),
               "^hypothesis name 'H' is given twice \\(hypotheses:1:1 and hypotheses:2:1\\)$",
               class = "propbf_input_error")
  expect_error(bf_proportions(c(a = 1.5), 3, "a > 0.1"), "^successes of item 'a' \\(1.5\\) must be a whole number$",
               class = "propbf_input_error")
  expect_error(bf_proportions(c(1, 2), c(3, 3), "a > b"), "no names", class = "propbf_argument_error")
  expect_error(bf_proportions(c(a = 1), 3, "a > 0.1", max_niter = 10),
               "^max_niter applies only in precision mode", class = "propbf_input_error")
  limits <- propbf:::engine_limits()
  expect_error(bf_proportions(c(a = 1), 3, "a > 0.1", niter = limits$most_niter + 1), "is above 1099511627776",
               class = "propbf_input_error")
  expect_error(bf_proportions(c(a = 1), 3, "a > 0.1", threads = limits$most_threads + 1),
               "^threads \\(1025\\) must be from 1 to 1024", class = "propbf_input_error")
  expect_error(bf_proportions(c(a = 1), 3, "a > 0.1", precision = 1), "between 0 and 1", class = "propbf_input_error")
  expect_error(bf_proportions(c(a = 1), 3, "a > 0.1", prior_a = 1e-4), "below 0.001", class = "propbf_input_error")
  expect_error(bf_proportions(data = data.frame(g = character(), y = numeric()), outcome = "y", group = "g",
                              hypotheses = "a > b"), "'data' has no rows", class = "propbf_argument_error")
  expect_error(bf_proportions(data = data.frame(g = c(1, 2), y = c(1, 0)), outcome = "y", group = "g",
                              hypotheses = "a > b"), "holds numbers; they would be taken as labels",
               class = "propbf_argument_error")
})

test_that("the plot writes a PNG", {
  fit <- fit_problem(problems$example, threads = 2)
  file <- tempfile(fileext = ".png")
  grDevices::png(file)
  plot(fit)
  grDevices::dev.off()
  expect_gt(file.size(file), 0)
  expect_s3_class(summary(fit), "summary.propbf")
  expect_output(print(summary(fit)), "Bayes factors for 4 items, 2 hypotheses")
  estimates <- propbf:::estimates_table(fit)
  expect_equal(nrow(estimates), 4L * (1L + length(fit$hypotheses)))
  unconstrained <- estimates[estimates$model == "unconstrained", ]
  expect_equal(unconstrained$mean, c(8, 6, 4, 10) / 12)
  expect_equal(unconstrained$upper, qbeta(0.975, c(8, 6, 4, 10), c(4, 6, 8, 2)), tolerance = 1e-12)
})

test_that("an equality's factor is exact and its complement's is not defined", {
  fit <- bf_proportions(c(a = 14, b = 12, c = 7), c(20, 20, 20),
                        c(H0 = "a = b = c", H1 = "a = b > c"), progress = FALSE)
  rows <- as.data.frame(fit)
  exact <- beta(1 + 33, 1 + 27) / (beta(15, 7) * beta(13, 9) * beta(8, 14))
  expect_equal(rows$bf_unconstrained[1], exact, tolerance = 1e-9)
  expect_true(all(is.na(rows$bf_complement)))
  expect_equal(fit$bf_matrix["H0", "H1"], rows$bf_unconstrained[1] / rows$bf_unconstrained[2])
})

test_that("the engine's document from R is the one propbf evaluate --json writes, warnings included", {
  cli <- Sys.getenv("PROPBF_CLI")
  skip_if(cli == "", "PROPBF_CLI does not name the propbf program")
  without_problem <- function(text) sub('\n  "problem": "[^\n]*', "", text)
  for (name in names(problems)) {
    problem <- problems[[name]]
    toml <- tempfile(fileext = ".toml")
    json <- tempfile(fileext = ".json")
    write_toml(problem, toml)
    # One thread on the command line: more than the processors would add a note saying so.
    status <- system2(cli, c("evaluate", toml, "--json", json, "--threads", 1), stdout = FALSE, stderr = FALSE)
    expect_equal(status, 0L)
    expected <- paste(readLines(json, encoding = "UTF-8"), collapse = "\n")
    for (threads in c(1, 2)) {
      from_r <- propbf:::engine_json(names(problem$successes), problem$successes, problem$trials, problem$prior_a,
                                     problem$prior_b, problem$hypotheses, niter = 3000, seed = 1, threads = threads)
      expect_identical(without_problem(sub("\n$", "", from_r)), without_problem(expected), info = name)
    }
  }
  fit <- fit_problem(problems$warned, threads = 1)
  expect_match(fit$notes[1], "^warning: beta shapes below 0.3 \\(items a, b, c\\)")
  expect_match(fit$notes[2], "^warning: hypothesis roof: the restriction 'a < 2' holds for every proportion")
})

test_that("Ctrl-C stops a long run and leaves the session going", {
  skip_on_os("windows")
  system(sprintf("(sleep 1; kill -INT %d) >/dev/null 2>&1 &", Sys.getpid()))
  caught <- tryCatch(bf_proportions(c(a = 5, b = 5, c = 5), c(10, 10, 10), "a > b > c", niter = 1e8, threads = 2,
                                    progress = FALSE),
                     interrupt = function(condition) "interrupt")
  expect_identical(caught, "interrupt")
  expect_s3_class(bf_proportions(c(a = 5, b = 5), c(10, 10), "a > b", niter = 500, progress = FALSE), "propbf")
})

test_that("samples() gives a matrix per hypothesis inside it; ppp in the data frame and summary", {
  fit <- bf_proportions(c(a = 7, b = 5, c = 3), c(10, 10, 10), c(H1 = "a > b > c", H2 = "a = 0.5"),
                        niter = 2000, threads = 1, progress = FALSE, thin = 9)
  draws <- samples(fit)
  expect_named(draws, c("H1", "H2"))
  expect_identical(dim(draws$H1), c(200L, 3L))  # every 9th of the 1800 sweeps after the burn-in
  expect_identical(colnames(draws$H1), c("a", "b", "c"))
  expect_true(all(draws$H1[, "a"] > draws$H1[, "b"] & draws$H1[, "b"] > draws$H1[, "c"]))
  expect_true(all(draws$H2[, "a"] == 0.5))
  expect_identical(samples(fit, "H2"), draws$H2)
  expect_error(samples(fit, "H3"), "no hypothesis named 'H3'")
  row <- as.data.frame(fit)
  expect_true(all(row$ppp > 0 & row$ppp < 1))
  expect_true(fit$ppp_unconstrained > 0 && fit$ppp_unconstrained < 1)
  # Keeping samples or not changes no other figure.
  plain <- bf_proportions(c(a = 7, b = 5, c = 3), c(10, 10, 10), c(H1 = "a > b > c", H2 = "a = 0.5"),
                          niter = 2000, threads = 2, progress = FALSE, samples = FALSE)
  expect_identical(as.data.frame(plain), row)
  expect_error(samples(plain), "samples = TRUE")
  lines <- capture.output(print(summary(fit)))
  expect_true(any(grepl("PPP", lines)))
  expect_lte(max(nchar(lines)), 80L)
  expect_error(bf_proportions(c(a = 7), 10, "a > 0.5", samples = NA), class = "propbf_argument_error")
  expect_error(bf_proportions(c(a = 7), 10, "a > 0.5", thin = 0, progress = FALSE), "thin \\(0\\) must be at least 1",
               class = "propbf_input_error")
})
