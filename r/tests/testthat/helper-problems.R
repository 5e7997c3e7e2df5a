# The problems the tests run: the bundled example of `propbf evaluate` and more (unequal
# priors per item; one hypothesis, set against its complement; equalities; the warnings
# of shapes that tie and of a restriction that restricts nothing).
problems <- list(
  example = list(successes = c(a = 7, b = 5, c = 3, d = 9), trials = c(10, 10, 10, 10), prior_a = 1, prior_b = 1,
                 hypotheses = c(H1 = "a > b > c; d > 0.5", H2 = "(a + b) / 2 > 0.6 & c < d")),
  priors = list(successes = c(x1 = 9, x2 = 7, x3 = 6, x4 = 3, x5 = 1), trials = rep(10, 5),
                prior_a = c(1, 2, 1, 1, 0.5), prior_b = 1.5,
                hypotheses = c(order = "x1 > x2 > x3 > x4 > x5", sums = "x1 + x2 > x3 + x4; x5 < 0.3")),
  single = list(successes = c(p = 40, q = 31), trials = c(60, 55), prior_a = 1, prior_b = 1,
                hypotheses = c(larger = "p > q")),
  equality = list(successes = c(a = 14, b = 12, c = 7, d = 3), trials = rep(20, 4), prior_a = 1, prior_b = 1,
                  hypotheses = c(H0 = "a = b = c = d", H1 = "a > b > c > d", H2 = "a = b > c > d")),
  warned = list(successes = c(a = 7, b = 5, c = 0), trials = c(10, 10, 10), prior_a = 0.25, prior_b = 2,
                hypotheses = c(roof = "a < 2; b > c", H2 = "c < a")))

# The object without its call (which names the arguments as written).
without_call <- function(fit) unclass(fit)[setdiff(names(fit), "call")]

fit_problem <- function(problem, ...) {
  bf_proportions(problem$successes, problem$trials, problem$hypotheses, prior_a = problem$prior_a,
                 prior_b = problem$prior_b, niter = 3000, progress = FALSE, ...)
}

# The problem as a TOML file for the command line program.
write_toml <- function(problem, path) {
  list_of <- function(x) paste0("[", paste(x, collapse = ", "), "]")
  numbers <- function(x) list_of(format(x, digits = 17))
  lines <- c("[items]", paste0("names = ", list_of(paste0('"', names(problem$successes), '"'))),
             paste0("successes = ", list_of(problem$successes)), paste0("trials = ", list_of(problem$trials)),
             paste0("prior_a = ", numbers(rep_len(problem$prior_a, length(problem$successes)))),
             paste0("prior_b = ", numbers(rep_len(problem$prior_b, length(problem$successes)))),
             "[hypotheses]", paste0(names(problem$hypotheses), ' = "', problem$hypotheses, '"'),
             "[sampling]", "niter = 3000", "seed = 1")
  writeLines(lines, path)
}

# A vdiffr writer of a figure at `width` x `height` inches (the snapshots are taken at
# several sizes, so the layout is checked where labels crowd).
sized_snapshot <- function(width, height) {
  function(plot, file, title = "") {
    vdiffr:::svglite(file, width = width, height = height)
    on.exit(grDevices::dev.off())
    vdiffr:::print_plot(plot, title)
  }
}
