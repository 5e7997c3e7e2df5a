# One strategy classification of the R peer's hilbig2014 data (choices of option B in three item
# types, 32 each) beside propbf. The peer's strategy_postprob gives the posterior probabilities of
# six strategies (equal prior probabilities) from exact marginal likelihoods; propbf gets the same
# strategies as hypotheses about b1, b2, b3 (the probabilities of choosing B) and reports them as
# `pmp_with_unconstrained`, the baseline being its unconstrained hypothesis:
#   WADD      A, B, A with one error e < 1/2:   b1 = 1 - b2 = b3; b1 < 0.5
#   TTB       A, A, A with one error:           b1 = b2 = b3; b1 < 0.5
#   EQW       A, B, guess:                      b1 = 1 - b2; b1 < 0.5; b3 = 0.5
#   GUESS     every choice a guess:             b1 = 0.5; b2 = 0.5; b3 = 0.5
#   WADDprob  A, B, A, errors ordered as the peer orders them (e1 < e3 < e2 < 1/2):
#             b1 < b3; b3 < 1 - b2; b2 > 0.5
# Usage: Rscript hilbig2014.R PATH/TO/propbf DIR [ROWS...]   (default rows 1 to 5)
peer <- Sys.getenv("PEER_PACKAGE")  # the R peer's package name (../shared/peer/install.sh installs it)
if (!nzchar(peer)) stop("set PEER_PACKAGE to the R peer's package name")
suppressMessages(library(peer, character.only = TRUE)); data(hilbig2014)
args <- commandArgs(TRUE); bin <- args[1]; out <- args[2]
rows <- if (length(args) >= 3) as.integer(args[-(1:2)]) else 1:5
v <- c(.9, .8, .7, .6)
cueA <- matrix(c(1, 1, 1, -1, 1, -1, -1, -1, 1, 1, 1, -1), ncol = 4, byrow = TRUE)
cueB <- matrix(c(-1, 1, -1, 1, -1, 1, 1, -1, -1, 1, 1, 1), ncol = 4, byrow = TRUE)
strategies <- c("baseline", "WADDprob", "WADD", "TTB", "EQW", "GUESS")
preds <- strategy_multiattribute(cueA, cueB, v, strategies)
stopifnot(identical(sign(preds$WADDprob$pattern), c(-1, 1, -1)),
          identical(order(-abs(preds$WADDprob$pattern)), c(1L, 3L, 2L)))
hypotheses <- c(WADDprob = "b1 < b3; b3 < 1 - b2; b2 > 0.5", WADD = "b1 = 1 - b2 = b3; b1 < 0.5",
                TTB = "b1 = b2 = b3; b1 < 0.5", EQW = "b1 = 1 - b2; b1 < 0.5; b3 = 0.5",
                GUESS = "b1 = 0.5; b2 = 0.5; b3 = 0.5")
peer <- strategy_postprob(k = hilbig2014[rows, ], rep(32, 3), preds)
for (i in seq_along(rows)) {
  k <- unlist(hilbig2014[rows[i], ])
  file <- file.path(out, sprintf("hilbig_row%d.toml", rows[i]))
  cat("[items]\nnames = [\"b1\", \"b2\", \"b3\"]\nsuccesses = [", paste(k, collapse = ", "),
      "]\ntrials = [32, 32, 32]\n\n[hypotheses]\n", paste0(names(hypotheses), " = \"", hypotheses, "\"\n", collapse = ""),
      "\n[sampling]\nniter = 20000\nseed = 1\n", sep = "", file = file)
  json <- file.path(out, sprintf("hilbig_row%d.json", rows[i]))
  status <- system2(bin, c("evaluate", file, "--json", json, "--threads", "1"), stdout = FALSE)
  stopifnot(status == 0)
  result <- jsonlite::fromJSON(json)
  ours <- setNames(result$hypotheses$pmp_with_unconstrained, result$hypotheses$name)
  ours <- c(baseline = result$pmp_unconstrained, ours)[strategies]
  cat(sprintf("\nrow %d (B chosen %s of 32)\n", rows[i], paste(k, collapse = ", ")))
  print(round(rbind(`R peer` = peer[i, strategies], propbf = ours), 5))
  cat(sprintf("largest |difference| %.2g; same classification: %s\n", max(abs(peer[i, strategies] - ours)),
              names(which.max(peer[i, strategies])) == names(which.max(ours))))
  # The factors against the baseline: the peer's exact (its probabilities' ratios), propbf's
  # with its corrected 95% interval (a closed form, GUESS, has a point interval).
  exact <- unlist(peer[i, result$hypotheses$name] / peer[i, "baseline"])
  interval <- do.call(rbind, result$hypotheses$bf_unconstrained_interval)
  inside <- (exact >= interval[, 1] & exact <= interval[, 2]) | abs(exact / result$hypotheses$bf_unconstrained - 1) < 1e-9
  print(data.frame(strategy = result$hypotheses$name, peer = signif(exact, 4),
                   propbf = signif(result$hypotheses$bf_unconstrained, 4), lower = signif(interval[, 1], 4),
                   upper = signif(interval[, 2], 4), inside = inside), row.names = FALSE)
}
