# bf_plan(): a small plan (few data sets, few sweeps) given as arguments and as a file,
# the command line's numbers and messages, the target, the figure.
small_plan <- function(...) {
  settings <- list(hypotheses = c(ordered = "a > b > c", equal = "a = b = c"), truth = c(a = 0.75, b = 0.5, c = 0.3),
                   n = c(8, 16, 32), datasets = 24, thresholds = c(3, 10), target = 0.5, seed = 3, niter = 300,
                   progress = FALSE)
  given <- list(...)
  settings[names(given)] <- given
  do.call(bf_plan, Filter(Negate(is.null), settings))
}

test_that("a plan gives one row per size, hypothesis and threshold, the same on any number of threads", {
  plan <- small_plan(threads = 1)
  expect_s3_class(plan, "propbf_plan")
  rows <- as.data.frame(plan)
  expect_identical(nrow(rows), 3L * 2L * 2L)
  expect_identical(rows$n, rep(c(8, 16, 32), each = 4))
  expect_identical(rows$total, 3 * rows$n)
  expect_identical(rows$hypothesis, rep(rep(c("ordered", "equal"), each = 2), 3))
  expect_identical(rows$threshold_name, rep(c("3", "10"), 6))
  # The three classes share the data sets: shares of 24.
  expect_equal(rows$p_above + rows$p_below + rows$p_between, rep(1, 12))
  expect_true(all(abs(rows$p_above * 24 - round(rows$p_above * 24)) < 1e-12))
  expect_true(all(rows$p_above_lower <= rows$p_above & rows$p_above <= rows$p_above_upper))
  expect_true(all(rows$bf_lower_quartile <= rows$median_bf & rows$median_bf <= rows$bf_upper_quartile))
  # The equality's factor is exact: its data sets run no chain.
  expect_true(all(rows$mean_sweeps[rows$hypothesis == "equal"] == 0))
  expect_true(all(rows$mean_sweeps[rows$hypothesis == "ordered"] == 300))
  expect_equal(plan$complexities$complexity[1], 1 / 6)
  expect_identical(plan$complexities$exact, c(TRUE, TRUE))
  expect_identical(dim(plan$sizes), c(3L, 3L))
  expect_identical(colnames(plan$sizes), c("a", "b", "c"))
  again <- small_plan(threads = 2)
  expect_identical(again$json, plan$json)
  expect_identical(as.data.frame(again), rows)
  # The printed table is the command line's.
  expect_identical(capture.output(print(plan)), format(plan))
  expect_match(format(plan)[1], "^propbf plan: 24 data sets per size; factors against the unconstrained")
})

test_that("the plan written from the arguments, read from a file, gives the same document", {
  plan <- small_plan(threads = 1)
  file <- tempfile(fileext = ".toml")
  writeLines(sub("\n$", "", plan$plan_text), file)
  expect_identical(readChar(file, 1e6, useBytes = TRUE), plan$plan_text)
  from_file <- bf_plan(file, threads = 1, progress = FALSE)
  expect_identical(from_file$json, plan$json)
  expect_identical(from_file$plan, file)
  expect_identical(as.data.frame(from_file), as.data.frame(plan))
  expect_error(bf_plan(file, datasets = 10), "not both: 'datasets' with a file", class = "propbf_argument_error")
})

test_that("bf_plan() gives the bytes of propbf plan --json and its table", {
  cli <- Sys.getenv("PROPBF_CLI")
  skip_if(cli == "", "PROPBF_CLI does not name the propbf program")
  plans <- list(small_plan(threads = 2),
                bf_plan(hypotheses = c(H1 = "p > q", H2 = "p < 0.6"),
                        truth = list(p = c(6, 4), q = list(beta = c(2, 2))), n = rbind(c(10, 5), c(30, 20)),
                        datasets = 16, thresholds = c(1.5, 6), against = "complement", target = 0.25,
                        target_threshold = 1.5, seed = 11, precision = 0.3, max_niter = 4000, prior_a = c(1, 2),
                        progress = FALSE),
                bf_plan(hypotheses = c(order = "x > y", flat = "x = y"), truth = "order", names = c("x", "y"),
                        total = c(12, 41),
                        weights = c(2, 1), datasets = 10, against = "flat", seed = 5, niter = 200,
                        complexity_niter = 3000, truth_sweeps = 50, progress = FALSE))
  for (plan in plans) {
    file <- tempfile(fileext = ".toml")
    json <- tempfile(fileext = ".json")
    writeLines(sub("\n$", "", plan$plan_text), file)
    table <- system2(cli, c("plan", file, "--json", json, "--threads", 1), stdout = TRUE, stderr = FALSE)
    expect_null(attr(table, "status"))
    expect_identical(plan$json, paste0(paste(readLines(json, encoding = "UTF-8"), collapse = "\n"), "\n"))
    expect_identical(format(plan), table)
  }
})

test_that("the smallest size reaching the target is the one propbf plan reports", {
  plan <- small_plan(threads = 1)
  expect_named(plan$reach, c("hypothesis", "reached", "total", "n", "interpolated"))
  json <- strsplit(plan$json, "\n", fixed = TRUE)[[1]]
  totals <- sub(",$", "", sub('.*"total": ', "", grep('^ *"total": ', json, value = TRUE)))
  reached <- utils::tail(totals, nrow(plan$reach))
  expect_identical(reached == "null", !plan$reach$reached)
  expect_identical(as.numeric(reached[reached != "null"]), plan$reach$total[plan$reach$reached])
  expect_identical(plan$reach$n, plan$reach$total / 3)
  expect_null(small_plan(threads = 1, target = NULL)$reach)
})
test_that("what the engine refuses is an error with the command line's message and its place", {
  expect_error(small_plan(truth = c(a = 1.5, b = 0.5, c = 0.3)),
               "^bf_plan\\(\\):[0-9]+:5: the true proportion of item 'a' must be in \\[0, 1\\] .*line [0-9]+: a = 1.5\\)$",
               class = "propbf_input_error")
  expect_error(small_plan(thresholds = c(0.5, 3)), "a threshold must be a finite number of at least 1",
               class = "propbf_input_error")
  expect_error(small_plan(n = c(0, 10)), "trials must be a whole number from 1", class = "propbf_input_error")
  expect_error(bf_plan(hypotheses = "a > b", truth = c(a = 0.5, b = 0.5), n = 10, datasets = 1e12, progress = FALSE),
               "'datasets' must be a whole number from 1 to 10000000", class = "propbf_input_error")
  expect_error(small_plan(hypotheses = c(H = "a > d")), "'d'", class = "propbf_input_error")
  expect_error(small_plan(against = "H9"), "'against' names no hypothesis", class = "propbf_input_error")
  file <- tempfile(fileext = ".toml")
  writeLines(c("[items]", "names = [\"a\"]", "[hypotheses]", "H = \"a > 0.5\"", "[truth]", "a = 0.7",
               "[design]", "n = [10]", "colour = 1"), file)
  expect_error(bf_plan(file, progress = FALSE), paste0("^", file, ":9:1: unknown key 'colour' in \\[design\\]"),
               class = "propbf_input_error")
  expect_error(bf_plan(file.path(tempdir(), "missing.toml"), progress = FALSE), "missing.toml",
               class = "propbf_input_error")
  expect_error(bf_plan(hypotheses = "a > b", truth = c(0.5, 0.5), n = 10), "have no names",
               class = "propbf_argument_error")
  expect_error(bf_plan(hypotheses = "a > b", truth = c(a = 0.5, b = NA), n = 10), "item 'b'",
               class = "propbf_argument_error")
  expect_error(bf_plan(hypotheses = "a > b", truth = c(a = 0.5, b = 0.5)), "give the sizes",
               class = "propbf_argument_error")
  expect_error(small_plan(threads = -1), "threads", class = "propbf_input_error")
})

test_that("numbers, strings and keys are written as TOML reads them back", {
  values <- c(0.7, 1 / 3, 1e-300, 2.5e20, 3, 0, 123456789012, 0.1 + 0.2, .Machine$double.xmax)
  written <- propbf:::toml_number(values)
  expect_identical(written[c(1, 3, 5, 6)], c("0.7", "1e-300", "3", "0"))
  expect_identical(as.numeric(written), values)
  expect_identical(propbf:::toml_number(c(Inf, -Inf, NaN)), c("inf", "-inf", "nan"))
  expect_identical(propbf:::toml_string(c("a > b", "say \"hi\"\\", "tab\there")),
                   c("\"a > b\"", "\"say \\\"hi\\\"\\\\\"", "\"tab\\u0009here\""))
  expect_identical(propbf:::toml_key(c("a_1", "x y", "\u00e9")), c("a_1", "\"x y\"", "\"\u00e9\""))
})

test_that("Ctrl-C stops a long plan and leaves the session going", {
  skip_on_os("windows")
  system(sprintf("(sleep 1; kill -INT %d) >/dev/null 2>&1 &", Sys.getpid()))
  caught <- tryCatch(bf_plan(hypotheses = c(H = "a > b > c"), truth = c(a = 0.5, b = 0.5, c = 0.5), n = 50,
                             datasets = 1e7, niter = 2000, threads = 2, progress = FALSE),
                     interrupt = function(condition) "interrupt")
  expect_identical(caught, "interrupt")
  expect_s3_class(small_plan(threads = 1), "propbf_plan")
})

# The figure from a plan whose probabilities are set by hand, so that the drawing does
# not depend on the engine's draws.
drawn_plan <- function() {
  plan <- small_plan(threads = 1)
  table <- plan$table
  table$p_above <- c(0.3, 0.1, 0, 0, 0.55, 0.35, 0.05, 0, 0.85, 0.7, 0.1, 0.05)
  table$p_above_lower <- pmax(0, table$p_above - 0.15)
  table$p_above_upper <- pmin(1, table$p_above + 0.15)
  table$p_below <- rev(table$p_above) / 2
  table$p_below_lower <- table$p_below / 2
  table$p_below_upper <- table$p_below * 1.5
  plan$table <- table
  # Where p_above of the k = 10 rows reaches the target 0.5: ordered between its second
  # and third sizes (48 and 96 trials), the other not at all.
  plan$reach <- data.frame(hypothesis = unique(table$hypothesis), reached = c(TRUE, FALSE),
                           total = c(48 + (0.5 - 0.35) / (0.7 - 0.35) * 48, NA), n = NA_real_,
                           interpolated = c(TRUE, FALSE), stringsAsFactors = FALSE)
  plan$reach$n <- plan$reach$total / 3
  plan
}

test_that("the plan's figure draws on small and large devices and matches its snapshots", {
  plan <- drawn_plan()
  expect_identical(plan$reach$reached, c(TRUE, FALSE))
  expect_true(plan$reach$interpolated[1])
  for (size in list(c(480, 480), c(1600, 900))) {
    file <- tempfile(fileext = ".png")
    grDevices::png(file, size[1], size[2])
    expect_silent(plot(plan))
    expect_silent(plot(plan, which = "below", main = "Misleading evidence", col = c("darkred", "navy")))
    grDevices::dev.off()
    expect_gt(file.size(file), 0)
  }
  skip_if_not_installed("vdiffr")
  sizes <- list(small = c(480, 480) / 72, wide = c(1600, 900) / 72)
  for (size in names(sizes)) {
    writer <- sized_snapshot(sizes[[size]][1], sizes[[size]][2])
    vdiffr::expect_doppelganger(paste("plan probabilities", size), function() plot(plan), writer = writer)
  }
})

test_that("autoplot() gives a ggplot of the plan, one line per hypothesis and threshold", {
  skip_if_not_installed("ggplot2")
  plan <- drawn_plan()
  plot <- ggplot2::autoplot(plan)
  expect_s3_class(plot, "ggplot")
  expect_identical(nrow(plot$data), 12L)
  expect_identical(levels(plot$data$threshold), c("3", "10"))
  expect_identical(nrow(ggplot2::autoplot(plan, which = "below", target = FALSE)$data), 12L)
})

test_that("summary() lists the probabilities per hypothesis within 80 columns and the target", {
  plan <- small_plan(threads = 1)
  lines <- capture.output(print(summary(plan)))
  expect_lte(max(nchar(lines)), 80L)
  expect_match(lines[1], "^Plan: 24 data sets per size, 3 items, factors against the unconstrained")
  expect_true(any(grepl("^ordered \\(complexity 0.1667, exact\\)", lines)))
  expect_true(any(grepl("Smallest size with P\\(BF > 10\\) >= 0.5:", lines)))
})
