# The R peer on regenwetter2012 against swop5, every row, with its prior count made once and
# shared by the rows (as its users do by hand): count_multinom(k = 0) once with M_PRIOR draws,
# count_multinom(k) per row with M_POST draws, count_to_bf for the factor and its standard error.
# Usage: Rscript swop5_peer.R OUT.csv [M_PRIOR] [M_POST] [ROWS...]   (defaults 200000, 10000, 1:90)
# Writes OUT.csv: row, bf (against the unconstrained model), se, and the CPU seconds of each count.
peer <- Sys.getenv("PEER_PACKAGE")  # the R peer's package name (../shared/peer/install.sh installs it)
if (!nzchar(peer)) stop("set PEER_PACKAGE to the R peer's package name")
suppressMessages(library(peer, character.only = TRUE)); data(swop5); data(regenwetter2012)
args <- commandArgs(TRUE); out <- args[1]
m_prior <- if (length(args) >= 2) as.numeric(args[2]) else 200000
m_post <- if (length(args) >= 3) as.numeric(args[3]) else 10000
rows <- if (length(args) >= 4) as.integer(args[-(1:3)]) else seq_len(nrow(regenwetter2012))
cpu <- function(t) t[["user.self"]] + t[["sys.self"]]
set.seed(1)
t_prior <- system.time(prior <- count_multinom(0, swop5$options, swop5$A, swop5$b, M = m_prior, progress = FALSE))
cat(sprintf("prior M=%d count=%d cpu %.1f\n", m_prior, prior[1, "count"], cpu(t_prior)))
result <- data.frame()
for (r in rows) {
  k <- unlist(regenwetter2012[r, -c(1:2)])
  t <- system.time(post <- count_multinom(k, swop5$options, swop5$A, swop5$b, M = m_post, progress = FALSE))
  bf <- count_to_bf(post, prior)
  result <- rbind(result, data.frame(row = r, bf = bf["bf_0u", "bf"], se = bf["bf_0u", "se"],
                                     post_count = post[1, "count"], prior_count = prior[1, "count"],
                                     cpu = cpu(t), prior_cpu = cpu(t_prior)))
  write.csv(result, out, row.names = FALSE)
}
