// Whole runs of the program on realistic and awkward problems.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "run_program.hpp"

namespace propbf::testing {
namespace {


struct Report {
  double fit = 0, complexity = 0, bf = 0, lu = 0, uu = 0, bfc = 0, lc = 0, uc = 0;
};

Report parse_report(const std::string& text) {
  const auto lines = lines_of(text);
  EXPECT_EQ(lines.size(), 15u);
  Report report;
  if (lines.size() != 15u) return report;
  report.fit = std::strtod(lines[1].c_str(), nullptr);
  report.complexity = std::strtod(lines[4].c_str(), nullptr);
  report.bf = std::strtod(lines[7].c_str(), nullptr);
  std::istringstream(lines[9]) >> report.lu >> report.uu;
  report.bfc = std::strtod(lines[12].c_str(), nullptr);
  std::istringstream(lines[14]) >> report.lc >> report.uc;
  return report;
}

// A polynomial in one variable, coefficients from the constant term up.
using Polynomial = std::vector<double>;

Polynomial times(const Polynomial& a, const Polynomial& b) {
  Polynomial product(a.size() + b.size() - 1, 0.0);
  for (size_t i = 0; i < a.size(); ++i) {
    for (size_t k = 0; k < b.size(); ++k) product[i + k] += a[i] * b[k];
  }
  return product;
}

Polynomial integral_from_zero(const Polynomial& p) {
  Polynomial result(p.size() + 1, 0.0);
  for (size_t i = 0; i < p.size(); ++i) result[i + 1] = p[i] / static_cast<double>(i + 1);
  return result;
}

double at(const Polynomial& p, double v) {
  double sum = 0.0;
  for (size_t i = p.size(); i-- > 0;) sum = sum * v + p[i];
  return sum;
}

// Density of an item's proportion: uniform prior (observation < 0 here), or the
// posterior after one success (2p) or one failure (2 - 2p).
Polynomial density(int observation) {
  if (observation == 1) return {0.0, 2.0};
  if (observation == 0) return {2.0, -2.0};
  return {1.0};
}

// P(p1 > p2 > ... > pJ) for independent items with the given densities, exactly.
double ordering_probability(const std::vector<int>& observations) {
  Polynomial below = integral_from_zero(density(observations.back()));
  for (size_t k = observations.size() - 1; k-- > 0;) {
    below = integral_from_zero(times(density(observations[k]), below));
  }
  return at(below, 1.0);
}

std::string ordering_input(const std::vector<int>& observations, int niter) {
  const size_t items = observations.size();
  std::ostringstream in;
  in << "ordering of " << items << " items\n" << items << ' ' << items - 1 << ' ' << niter << "\nrestrictions\n";
  for (size_t t = 0; t + 1 < items; ++t) {
    for (size_t j = 0; j < items; ++j) in << (j == t ? 1 : j == t + 1 ? -1 : 0) << ' ';
    in << "0\n";
  }
  in << "start\n";
  for (size_t j = 0; j < items; ++j) in << 0.9 - 0.8 * static_cast<double>(j) / static_cast<double>(items) << ' ';
  in << "\nobservations\n";
  for (int x : observations) in << x << ' ';
  in << '\n';
  return in.str();
}

void expect_true_factors_inside(const Report& report, double complexity, double fit) {
  const double bf = fit / complexity;
  const double bfc = bf / ((1.0 - fit) / (1.0 - complexity));
  EXPECT_LE(report.lu, bf) << "true factor against the unconstrained alternative " << bf;
  EXPECT_GE(report.uu, bf) << "true factor against the unconstrained alternative " << bf;
  EXPECT_LE(report.lc, bfc) << "true factor against the complement " << bfc;
  EXPECT_GE(report.uc, bfc) << "true factor against the complement " << bfc;
  EXPECT_LE(report.lu, report.bf);
  EXPECT_GE(report.uu, report.bf);
}

struct OrderingCase {
  std::vector<int> observations;
};

class Ordering : public ::testing::TestWithParam<OrderingCase> {};

TEST_P(Ordering, TrueFactorsLieInsideTheIntervals) {
  const auto& observations = GetParam().observations;
  const RunResult run = run_program_on(ordering_input(observations, 10000));
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  ASSERT_TRUE(run.output_txt.has_value());
  const Report report = parse_report(*run.output_txt);
  const std::vector<int> prior(observations.size(), -1);
  const double complexity = ordering_probability(prior);
  EXPECT_NEAR(complexity, 1.0 / std::tgamma(static_cast<double>(observations.size()) + 1.0), 1e-12);
  expect_true_factors_inside(report, complexity, ordering_probability(observations));
}

INSTANTIATE_TEST_SUITE_P(ThreeToSixItems, Ordering,
                         ::testing::Values(OrderingCase{{1, 1, 0}}, OrderingCase{{1, 0, 1, 0}},
                                           OrderingCase{{1, 1, 0, 0, 0}}, OrderingCase{{1, 1, 1, 0, 1, 0}}));

TEST(EndToEnd, ThresholdsAgainstClosedForms) {
  // p1 > 0.3 and p2 > 0.6, one success and one failure: the items are independent, so
  // complexity = 0.7 x 0.4 and fit = (1 - 0.3^2) x (1 - (2 x 0.6 - 0.6^2)).
  const RunResult run = run_program_on(
      "thresholds\n2 2 10000\nr\n1 0 0.3\n0 1 0.6\nstart\n0.5 0.8\nx\n1 0\n");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  const Report report = parse_report(run.output_txt.value_or(""));
  expect_true_factors_inside(report, 0.7 * 0.4, (1.0 - 0.09) * (1.0 - 0.84));
}

TEST(EndToEnd, MixedRestrictionsAgainstNumericalIntegration) {
  // 0.5 p1 + 0.5 p2 - p3 > 0.1 and 1.5 p1 - 0.25 p3 > 0.4, observations 1, 1, 0.
  const RunResult run = run_program_on(
      "mixed real coefficients\n3 2 10000\nr\n0.5, 0.5, -1.0, 0.1\n1.5 0 -0.25 0.4\n"
      "start\n0.8 0.7 0.2\nx\n1 1 0\n");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  const Report report = parse_report(run.output_txt.value_or(""));

  // Midpoint rule on a fine grid; the prior weight is 1, the posterior 2p or 2 - 2p.
  const int n = 160;
  double prior = 0.0, posterior = 0.0;
  for (int a = 0; a < n; ++a) {
    for (int b = 0; b < n; ++b) {
      for (int c = 0; c < n; ++c) {
        const double p1 = (a + 0.5) / n, p2 = (b + 0.5) / n, p3 = (c + 0.5) / n;
        if (0.5 * p1 + 0.5 * p2 - p3 > 0.1 && 1.5 * p1 - 0.25 * p3 > 0.4) {
          prior += 1.0;
          posterior += (2 * p1) * (2 * p2) * (2 - 2 * p3);
        }
      }
    }
  }
  const double cells = static_cast<double>(n) * n * n;
  expect_true_factors_inside(report, prior / cells, posterior / cells);
}

TEST(EndToEnd, TwoRunsAreByteIdentical) {
  // The second run on one thread only: the phases side by side (where the machine has a
  // second CPU; the problem is large enough to be worth it) or one after the other give
  // the same bytes.
  const std::string input = ordering_input({1, 1, 0, 0, 0}, 20000);
  const RunResult first = run_program_on(input);
  setenv("OMP_NUM_THREADS", "1", 1);
  const RunResult second = run_program_on(input);
  unsetenv("OMP_NUM_THREADS");
  ASSERT_EQ(first.status, 0) << first.out << first.err;
  EXPECT_EQ(first.out, second.out);
  EXPECT_EQ(first.err, second.err);
  EXPECT_EQ(first.output_txt, second.output_txt);
  EXPECT_EQ(lines_of(first.output_txt.value_or("")).size(), 15u);
}

TEST(EndToEnd, ReportLayout) {
  const RunResult run = run_program_on("two items\n2 1 1000\nr\n1 -1 0\ns\n0.6 0.4\nx\n1 0\n");
  ASSERT_EQ(run.status, 0);
  const auto lines = lines_of(run.output_txt.value_or(""));
  ASSERT_EQ(lines.size(), 15u);
  EXPECT_EQ(lines[0], " fit =");
  EXPECT_EQ(lines[2], " ");
  EXPECT_EQ(lines[3], " complexity =");
  EXPECT_EQ(lines[6], " Bayes factor for hypothesis versus unconstrained alternative =");
  EXPECT_EQ(lines[8], " interval for Bayes factor due to estimation error =");
  EXPECT_EQ(lines[10], " ");
  EXPECT_EQ(lines[11], " Bayes factor for hypothesis versus complement =");
  EXPECT_EQ(lines[13], lines[8]);
  EXPECT_EQ(lines[1].size(), 12u);
  EXPECT_EQ(lines[4].size(), 12u);
  EXPECT_EQ(lines[7].size(), 17u);
  EXPECT_EQ(lines[9].size(), 37u);
  EXPECT_EQ(lines[12].size(), 17u);
  EXPECT_EQ(lines[14].size(), 37u);
  EXPECT_EQ(run.output_txt->substr(run.output_txt->size() - 2), "\r\n");
  EXPECT_EQ(run.out,
            " Completed: Evaluation of Complexity Restriction    1\r\n"
            " Completed: Evaluation of Fit Restriction    1\r\n"
            " Analysis Completed\r\n");
}

TEST(EndToEnd, FactorsThatAreNotNumbersGetNoInterval) {
  // No sweeps: c = f = 0, both factors 0/0, a NaN with the sign bit set. The replications
  // are still drawn (uniform shares), but both ends of each interval show the factor.
  const RunResult run = run_program_on("no sweeps\n2 1 0\nr\n1 -1 0\ns\n0.6 0.4\nx\n1 0\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            " Completed: Evaluation of Complexity Restriction    1\r\n"
            " Completed: Evaluation of Fit Restriction    1\r\n"
            " Analysis Completed\r\n");
  EXPECT_EQ(run.output_txt, std::optional<std::string>(
                                " fit =\r\n0.0000000000\r\n \r\n"
                                " complexity =\r\n0.0000000000\r\n \r\n"
                                " Bayes factor for hypothesis versus unconstrained alternative =\r\n"
                                "             -NaN\r\n"
                                " interval for Bayes factor due to estimation error =\r\n"
                                "             -NaN                -NaN\r\n \r\n"
                                " Bayes factor for hypothesis versus complement =\r\n"
                                "             -NaN\r\n"
                                " interval for Bayes factor due to estimation error =\r\n"
                                "             -NaN                -NaN\r\n"));
}

TEST(EndToEnd, AllHitStageAtFullSweepCountStillReports) {
  // Restriction 2 is implied by restriction 1, so every sweep of stage 2 is a hit and
  // the float sum of 1/100000 ends above 100000.
  const RunResult run =
      run_program_on("redundant\n2 2 100000\nr\n1 -1 0\n1 -1 -0.5\ns\n0.7 0.2\nx\n1 0\n");
  ASSERT_EQ(run.status, 0) << run.out;
  const Report report = parse_report(run.output_txt.value_or(""));
  EXPECT_NEAR(report.complexity, 0.5, 0.01);
  EXPECT_NEAR(report.fit, 5.0 / 6.0, 0.01);
  expect_true_factors_inside(report, 0.5, 5.0 / 6.0);
}

TEST(EndToEnd, MissingInputIsCreatedEmptyAndEndsWithEndOfFile) {
  TemporaryFolder folder;
  const RunResult run = run_program_in(folder.path());
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "? Run-time Error\r\n? Attempt to read past end of file\r\n? READ(UNIT=21,...\n");
  EXPECT_TRUE(std::filesystem::exists(folder.path() / "input.txt"));
  EXPECT_EQ(read_file(folder.path() / "input.txt"), "");
  EXPECT_EQ(run.output_txt, std::optional<std::string>(""));
}

TEST(EndToEnd, EarlyEndLeavesAnExistingOutputUnchanged) {
  const std::string previous = "an earlier report\r\nwith two lines\r\n";
  for (const std::string input : {"heading\n2 1\n", "heading\n2 1 100.0\n", "h\n2 1 10\nr\n1 x 0\n"}) {
    TemporaryFolder folder;
    write_file(folder.path() / "input.txt", input);
    write_file(folder.path() / "output.txt", previous);
    const RunResult run = run_program_in(folder.path());
    EXPECT_EQ(run.status, 255) << input;
    EXPECT_EQ(run.out, "") << input;
    EXPECT_EQ(run.output_txt, std::optional<std::string>(previous)) << input;
  }
}

TEST(EndToEnd, CompletedRunReplacesALongerOldOutput) {
  TemporaryFolder folder;
  write_file(folder.path() / "input.txt", "t\n1 0 10\nr\ns\n0.5\nx\n1\n");
  write_file(folder.path() / "output.txt", std::string(20000, 'z'));
  const RunResult run = run_program_in(folder.path());
  ASSERT_EQ(run.status, 0);
  EXPECT_EQ(lines_of(run.output_txt.value_or("")).size(), 15u);
  EXPECT_EQ(run.output_txt->find('z'), std::string::npos);
}

TEST(EndToEnd, NegativeSweepCountEndsWithTheBetaArgumentError) {
  TemporaryFolder folder;
  write_file(folder.path() / "input.txt", "h\n1 1 -3\nr\n1 0.5\ns\n0.7\nx\n1\n");
  write_file(folder.path() / "output.txt", "an earlier report\r\n");
  const RunResult run = run_program_in(folder.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            " Completed: Evaluation of Complexity Restriction    1\r\n"
            " Completed: Evaluation of Fit Restriction    1\r\n"
            "\r\n *** TERMINAL ERROR 3 from RNBET.  QIN = -2.000000E+00.  QIN must be positive.\r\n");
  EXPECT_EQ(run.output_txt, std::optional<std::string>("an earlier report\r\n"));
}

TEST(EndToEnd, HugeCountsEndWithTheAllocationReport) {
  // The last: the problem's arrays take 9 GB, but the sampler's storage for stage 30
  // alone about 48 GB more; refused before anything is allocated (on a machine with
  // less than about 57 GB available).
  for (const std::string counts :
       {"2000000000 2000000000 10", "65536 65536 1", "2000000000 1 1", "70000000 30 1"}) {
    const RunResult run = run_program_on("h\n" + counts + "\nr\n");
    EXPECT_EQ(run.status, 255) << counts;
    EXPECT_EQ(run.err, "? Run-time Error\r\n? Runtime memory allocation fails\r\n") << counts;
  }
}

TEST(EndToEnd, ManyItemsThatFitRunToTheEnd) {
  // A million items, one restriction that every state satisfies (all coefficients 0,
  // constant -1): both shares are 1/2 + 1/2 = 1 exactly.
  const int items = 1000000;
  std::string input = "many items\n" + std::to_string(items) + " 1 2\nr\n";
  for (int j = 0; j < items; ++j) input += "0 ";
  input += "-1\nstart\n";
  for (int j = 0; j < items; ++j) input += ".5 ";
  input += "\nx\n";
  for (int j = 0; j < items; ++j) input += j % 2 == 0 ? "1 " : "0 ";
  input += "\n";
  const RunResult run = run_program_on(input);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            " Completed: Evaluation of Complexity Restriction    1\r\n"
            " Completed: Evaluation of Fit Restriction    1\r\n"
            " Analysis Completed\r\n");
  const auto lines = lines_of(run.output_txt.value_or(""));
  ASSERT_EQ(lines.size(), 15u);
  EXPECT_EQ(lines[1], "1.0000000000");
  EXPECT_EQ(lines[4], "1.0000000000");
  EXPECT_EQ(lines[7], "     1.0000000000");
}

}  // namespace
}  // namespace propbf::testing
