# The R peer's karabatsos2004 data (NAEP 1992 reading, grade 4: correct responses of six items by
# rest score 0 ... 5) and its monotonicity polytope (nirt_to_Ab(6, 6, axioms = "W1"): within each
# item the probability of a correct response does not fall with the rest score), written for propbf:
#   DIR/monotonicity.csv    the peer's A and b, header rs0_i1, ..., rs5_i6, b (write.csv of cbind(A, b))
#   DIR/karabatsos2004.toml the counts, prior Beta(0.5, 0.5) as in the peer's example, and the same
#                           hypothesis twice: as the matrix file and written in the hypothesis language
# and prints the peer's bf_binom of the same hypothesis (its factor against the unconstrained model).
# Usage: Rscript karabatsos2004.R DIR [M]   (default M = 10000 per step)
peer <- Sys.getenv("PEER_PACKAGE")  # the R peer's package name (../shared/peer/install.sh installs it)
if (!nzchar(peer)) stop("set PEER_PACKAGE to the R peer's package name")
suppressMessages(library(peer, character.only = TRUE)); data(karabatsos2004)
args <- commandArgs(TRUE); out <- args[1]; M <- if (length(args) >= 2) as.numeric(args[2]) else 10000
k <- karabatsos2004$k.M; n <- karabatsos2004$n.M
IJ <- dim(k); mono <- nirt_to_Ab(IJ[1], IJ[2], axioms = "W1")
# nirt_to_Ab names its columns "p<rest score + 1>,i<item>", in column-major order of k.
names <- as.vector(outer(paste0("rs", 0:(IJ[1] - 1)), paste0("i", 1:IJ[2]), paste, sep = "_"))
A <- mono$A; colnames(A) <- names
write.csv(cbind(A, b = mono$b), file.path(out, "monotonicity.csv"), row.names = FALSE, quote = FALSE)
chains <- sapply(1:IJ[2], function(i) paste(names[(i - 1) * IJ[1] + 1:IJ[1]], collapse = " < "))
cat("[items]\nnames = [", paste0("\"", names, "\"", collapse = ", "), "]\nsuccesses = [", paste(c(k), collapse = ", "),
    "]\ntrials = [", paste(c(n), collapse = ", "), "]\nprior_a = 0.5\nprior_b = 0.5\n\n",
    "[hypotheses.matrix]\nmatrix = \"monotonicity.csv\"\n\n[hypotheses]\nlanguage = \"", paste(chains, collapse = "; "),
    "\"\n\n[sampling]\nniter = 20000\nseed = 1\n", sep = "", file = file.path(out, "karabatsos2004.toml"))
set.seed(1)
# Stepwise (one step per row): the plain count would see no prior draw inside (the complexity is
# (1/720)^6 = 7e-18).
t <- system.time(bf <- bf_binom(c(k), c(n), mono$A, mono$b, prior = c(.5, .5), M = M, steps = seq_len(nrow(mono$A)),
                                progress = FALSE))
print(bf)
cat(sprintf("peer karabatsos2004 monotonicity M=%d cpu %.2f bf0u %.6g se %.3g\n", M,
            t[["user.self"]] + t[["sys.self"]], bf[1, 1], bf[1, 2]))
