// Effective sweeps by batch means, worked by hand; stage chains continued in steps and
// the selected order statistics and the replications in blocks, each against its plain
// form on generated cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "sampling/beta_functions.hpp"
#include "engine/evaluation.hpp"
#include "sampling/pilot.hpp"
#include "sampling/sampler.hpp"
#include "engine/start_point.hpp"

namespace propbf::evaluate {
namespace {

struct BatchCase {
  const char* what;
  std::vector<std::int64_t> batch_hits;
  std::int64_t batch_size;
  std::int64_t niter;
  double expected;
};

TEST(BatchMeans, EffectiveSweeps) {
  // t_0.975 with 1 and 3 degrees of freedom over z_0.975, from the tables.
  const double ratio_1 = 12.706204736 / 1.959963985;
  const double ratio_3 = 3.182446305 / 1.959963985;
  const std::vector<BatchCase> cases{
      {"no variance: every sweep a hit", {10, 10, 10}, 10, 30, 30.0},
      {"no variance: no hit", {0, 0, 0}, 10, 30, 30.0},
      {"one batch cannot estimate a variance", {4}, 10, 12, 12.0},
      // p = 1/2, batch shares 0 and 1: sigma^2 = 10 * (1/4 + 1/4) / 1 = 5, p (1 - p) = 1/4.
      {"two opposite batches", {0, 10}, 10, 20, 20 * 0.25 / 5 / (ratio_1 * ratio_1)},
      // p = 1/2, batch shares 0.4, 0.6, 0.4, 0.6: sigma^2 = 10 * 4 * 0.01 / 3 = 2/15;
      // 40 * 0.25 / (2/15) = 75, shrunk by the t ratio and below niter = 40.
      {"mild correlation", {4, 6, 4, 6}, 10, 40, 40 * 0.25 / (2.0 / 15.0) / (ratio_3 * ratio_3)},
      // Batch shares exactly as independent draws would rarely give: capped at niter.
      {"less variance than independent draws", {5, 5, 5, 6}, 10, 40, 40.0},
  };
  for (const BatchCase& c : cases) {
    EXPECT_NEAR(batch_means_effective_sweeps(c.batch_hits, c.batch_size, c.niter), c.expected, 1e-6 * c.expected)
        << c.what;
  }
}

// The method chosen per shape and interval, and every method's draws inside the
// interval (their law is checked in truncated_beta_statistics_test.cpp).
TEST(TruncatedBeta, MethodPerSituationAndDrawsInside) {
  struct Case {
    double a, b, low, up;
    TruncatedMethod method;
  };
  const std::vector<Case> cases{
      {1, 1, 0.2, 0.3, TruncatedMethod::Uniform},       {8, 4, 0.0, 1.0, TruncatedMethod::Rejection},
      {8, 4, 0.5, 0.8, TruncatedMethod::Rejection},     {8, 4, 0.01, 0.2, TruncatedMethod::Envelope},
      {8, 4, 0.66, 0.67, TruncatedMethod::Envelope},    {1, 30, 0.5, 1.0, TruncatedMethod::Envelope},
      {1e5, 1e5, 0.49, 0.51, TruncatedMethod::Rejection}, {0.5, 3, 0.0, 0.5, TruncatedMethod::Inversion},
      {2, 0.9, 0.1, 0.2, TruncatedMethod::Inversion},     {1e9, 1e9, 0.49, 0.51, TruncatedMethod::Inversion},
  };
  CounterStream stream(5, 0, StreamKind::FitSweeps, 1);
  for (const Case& c : cases) {
    const TruncatedBeta draws(c.a, c.b);
    EXPECT_EQ(draws.method(c.low, c.up), c.method) << c.a << " " << c.b << " " << c.low << " " << c.up;
    for (const TruncatedMethod method : {TruncatedMethod::Rejection, TruncatedMethod::Envelope, TruncatedMethod::Inversion,
                                         c.method}) {
      if (method != c.method && c.method == TruncatedMethod::Inversion) continue;
      for (int i = 0; i < 200; ++i) {
        const double x = draws.draw_with(method, c.low, c.up, stream);
        ASSERT_TRUE(x >= c.low && x <= c.up) << x;
      }
    }
  }
}

struct TrustCase {
  const char* what;
  std::vector<std::int64_t> batch_hits;
  std::int64_t batch_size;
  double correlation;
  bool measured;
};

// The correlation of neighbouring batch shares and whether the batches could measure
// the error: at least 10 hits and enough effective sweeps per batch once discounted for
// the neighbours' correlation.
TEST(BatchMeans, ErrorMeasured) {
  const std::vector<TrustCase> cases{
      // Shares 0.48, 0.52, 0.48, 0.52: products -0.0004 three times over squares 0.0004
      // four times; the effective sweeps reach niter.
      {"alternating batches", {48, 52, 48, 52}, 100, -0.75, true},
      // Shares 0, 0, 1, 1: products 1/4 - 1/4 + 1/4 over 1: 0.25; p (1 - p) = 1/4 against
      // sigma^2 = 10: effective sweeps far below 4 per batch.
      {"a chain stuck for two batches at a time", {0, 0, 10, 10}, 10, 0.25, false},
      // Ten batches rising one hit at a time: neighbours correlate 0.7 (not above the
      // limit), but the effective sweeps (about 20) are fewer than 4 per batch.
      {"a steep drift", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 10, 0.7, false},
      // Shares drifting from 0.5 to 0.507 in batches of 1000: deviations -3.5, -3.5,
      // -2.5 ... 3.5 (per mille), products 50.75 over squares 66.5; neighbours correlate
      // above 0.7, but the effective sweeps reach niter: discounted by 0.24 / 1.76 they
      // are still 1360, far above 4 per batch.
      {"a gentle drift", {500, 500, 501, 502, 503, 504, 505, 506, 507, 507}, 1000, 29.0 / 38.0, true},
      {"no variance", {10, 10, 10, 10}, 10, 0.0, true},
      {"one batch", {30}, 100, 0.0, true},
      {"three hits", {3}, 10, 0.0, false},
      {"no hit", {0, 0, 0, 0}, 10, 0.0, false},
  };
  for (const TrustCase& c : cases) {
    std::int64_t hits = 0;
    for (std::int64_t h : c.batch_hits) hits += h;
    const auto niter = static_cast<std::int64_t>(c.batch_hits.size()) * c.batch_size;
    const StageCount count = stage_count(hits, c.batch_hits, c.batch_size, niter);
    EXPECT_NEAR(count.batch_correlation, c.correlation, 1e-12) << c.what;
    EXPECT_EQ(count.error_measured, c.measured) << c.what;
    EXPECT_EQ(count.effective_sweeps, batch_means_effective_sweeps(c.batch_hits, c.batch_size, niter)) << c.what;
  }
}

struct BandCase {
  const char* what;
  std::vector<std::vector<double>> coefficients;  // one row per restriction
  std::vector<std::vector<std::size_t>> items;    // per band found: its items ...
  std::vector<std::size_t> first_stages;          // ... and its first stage
};

TEST(Bands, FoundBetweenOppositeRestrictions) {
  const std::vector<BandCase> cases{
      {"a band: a - b > -w, a - b < w", {{1, -1}, {-1, 1}, {1, 0}}, {{0, 1}}, {3}},
      {"a thin wedge: a > b, 1.02 b > a", {{1, -1}, {-1, 1.02}}, {{0, 1}}, {3}},
      {"an ordering has none", {{1, -1, 0}, {0, 1, -1}, {-1, 0, 1}}, {}, {}},
      {"one item between two bounds needs none", {{1, 0}, {-1, 0}}, {}, {}},
      {"the same band twice moves once", {{2, -2, 0}, {0, 0, 1}, {-1, 1, 0}, {1, -1, 0}}, {{0, 1}}, {4}},
      {"three items; a second band over other items", {{1, 1, -2, 0}, {0, 1, 0, -1}, {-1, -1, 2, 0}, {0, -1, 0, 1}},
       {{0, 1, 2}, {1, 3}}, {4, 5}},
  };
  for (const BandCase& c : cases) {
    std::vector<Restriction> restrictions;
    for (const std::vector<double>& row : c.coefficients) restrictions.push_back({row, 0.0, ""});
    const std::vector<Band> bands = find_bands(restrictions);
    ASSERT_EQ(bands.size(), c.items.size()) << c.what;
    for (std::size_t b = 0; b < bands.size(); ++b) {
      EXPECT_EQ(bands[b].items, c.items[b]) << c.what;
      EXPECT_EQ(bands[b].first_stage, c.first_stages[b]) << c.what;
    }
  }
}

// A chain run to n1 sweeps, continued to n2 and then to n3, counts at each step what
// the plain stage-by-stage run of that many sweeps counts: hits and effective sweeps,
// bit for bit.
TEST(StageChain, ContinuedChainsMatchPlainRuns) {
  std::mt19937_64 engine(20261208u);
  auto uniform = [&engine](double low, double high) {
    return low + (high - low) * std::uniform_real_distribution<double>(0.0, 1.0)(engine);
  };
  // Problems 40 on: the first two or three items are the free categories of one item
  // (a simplex), drawn by their scaled betas.
  for (int problem = 0; problem < 60; ++problem) {
    const std::size_t items = (problem >= 40 ? 2 : 1) + engine() % 4;
    const std::size_t stages = 1 + engine() % 4;
    std::vector<double> start(items);
    std::vector<double> shape_a(items);
    std::vector<double> shape_b(items);
    for (std::size_t j = 0; j < items; ++j) {
      start[j] = uniform(0.2, 0.8);
      shape_a[j] = engine() % 3 == 0 ? 1.0 : uniform(0.5, 8.0);
      shape_b[j] = engine() % 3 == 0 ? 1.0 : uniform(0.5, 8.0);
    }
    std::shared_ptr<const Simplex> simplex;
    if (problem >= 40) {
      Simplex coupled;
      const std::size_t size = std::min<std::size_t>(items, 2 + engine() % 2);
      for (std::size_t j = 0; j < items; ++j) {
        coupled.begin.push_back(j < size ? 0 : j);
        coupled.end.push_back(j < size ? size : j + 1);
        if (j < size) start[j] = uniform(0.05, 0.3);
      }
      coupled.items.emplace_back(0, size);
      simplex = std::make_shared<const Simplex>(coupled);
    }
    std::vector<Restriction> restrictions(stages);
    for (Restriction& r : restrictions) {
      double at_start = 0.0;
      for (std::size_t j = 0; j < items; ++j) {
        r.coefficients.push_back(engine() % 4 == 0 ? 0.0 : std::round(uniform(-2.0, 2.0) * 4.0) / 4.0);
        at_start += r.coefficients[j] * start[j];
      }
      r.constant = at_start - uniform(0.01, 0.3);
    }
    // Every third problem holds a band: restriction 2 opposite to restriction 1, so the
    // stages from 3 on move along it (with two items or more).
    if (problem % 3 == 0 && stages >= 3) {
      double at_start = 0.0;
      for (std::size_t j = 0; j < items; ++j) {
        restrictions[1].coefficients[j] = -restrictions[0].coefficients[j];
        at_start += restrictions[1].coefficients[j] * start[j];
      }
      restrictions[1].constant = at_start - uniform(0.001, 0.05);
    }
    ChainSettings settings{0, engine() % 1000, engine() % 5, problem % 2 == 0 ? StreamKind::ComplexitySweeps : StreamKind::FitSweeps};
    std::vector<StageChain> chains;
    for (std::size_t t = 1; t <= stages; ++t) {
      if (simplex) {
        chains.emplace_back(std::make_shared<const SparseRestrictions>(restrictions, items), t, start,
                            std::make_shared<const std::vector<TruncatedBeta>>(item_draws(shape_a, shape_b)), settings,
                            band_moves(restrictions, shape_a, shape_b, simplex.get()), simplex);
      } else {
        chains.emplace_back(restrictions, t, start, shape_a, shape_b, settings);
      }
    }
    std::int64_t niter = 0;
    for (int step = 0; step < 3; ++step) {
      niter += 1 + static_cast<std::int64_t>(engine() % 300);
      for (StageChain& chain : chains) chain.run_to(niter);
      settings.niter = niter;
      const std::vector<StageCount> plain =
          run_stage_chain(restrictions, start, shape_a, shape_b, settings, simplex.get());
      for (std::size_t t = 0; t < stages; ++t) {
        const StageCount continued = chains[t].count();
        EXPECT_EQ(continued.hits, plain[t].hits) << "problem " << problem << ", stage " << t + 1 << ", niter " << niter;
        EXPECT_EQ(continued.effective_sweeps, plain[t].effective_sweeps)
            << "problem " << problem << ", stage " << t + 1 << ", niter " << niter;
      }
    }
  }
}

// One stage per restriction up to max(64, 2 x items) restrictions; beyond, that many
// stages of consecutive restrictions growing by a half (a third from the last back), stage s
// ending after at least s restrictions.
TEST(StageEnds, OnePerRestrictionUntilGrouped) {
  EXPECT_EQ(stage_ends(0, 3), std::vector<std::size_t>{});
  EXPECT_EQ(stage_ends(3, 2), (std::vector<std::size_t>{1, 2, 3}));
  EXPECT_EQ(stage_ends(64, 1).size(), 64u);
  EXPECT_EQ(stage_ends(999, 1000).size(), 999u);  // an ordering of 1000 items: as before
  const std::vector<std::size_t> grouped = stage_ends(75834, 20);
  ASSERT_EQ(grouped.size(), 64u);
  EXPECT_EQ(grouped.front(), 1u);
  EXPECT_EQ(grouped[44], 45u);
  EXPECT_EQ(grouped[45], 52u);
  EXPECT_EQ(grouped[46], 78u);
  EXPECT_EQ(grouped[62], 50556u);  // 75834 - floor(75834 / 3)
  EXPECT_EQ(grouped.back(), 75834u);
  const std::vector<std::size_t> by_items = stage_ends(1000, 40);
  ASSERT_EQ(by_items.size(), 80u);
  EXPECT_EQ(by_items.front(), 1u);
  EXPECT_EQ(by_items.back(), 1000u);
  for (std::size_t s = 1; s < by_items.size(); ++s) EXPECT_GT(by_items[s], by_items[s - 1]);
}

// Grouped stages, each chain truncated to the earlier stages' restrictions and checking
// its own too, count as the plain run of the same stages: the chains of grouped stages
// read kept values (method.md, "Kept values"), which must give the same draws and hits
// as the plain sweep's term-by-term sums, here on generated problems of several sizes,
// with chains continued part-way as the engine's rounds do.
TEST(StageChain, GroupedStagesMatchPlainRuns) {
  struct Case {
    std::size_t items;
    std::size_t restrictions;
    unsigned seed;
    std::int64_t niter;
  };
  const Case cases[] = {{3, 150, 29u, 500}, {5, 400, 3u, 300}, {8, 600, 11u, 200}, {12, 900, 17u, 120}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.items);
    std::mt19937_64 engine(c.seed);
    auto uniform = [&engine](double low, double high) {
      return low + (high - low) * std::uniform_real_distribution<double>(0.0, 1.0)(engine);
    };
    const std::size_t items = c.items;
    std::vector<double> start;
    std::vector<double> shape_a;
    std::vector<double> shape_b;
    for (std::size_t j = 0; j < items; ++j) {
      start.push_back(uniform(0.4, 0.6));
      shape_a.push_back(j % 2 == 0 ? 1.0 : 2.5);
      shape_b.push_back(j % 3 == 0 ? 1.0 : 3.0);
    }
    std::vector<Restriction> restrictions(c.restrictions);
    for (std::size_t k = 0; k < restrictions.size(); ++k) {
      Restriction& r = restrictions[k];
      double at_start = 0.0;
      for (std::size_t j = 0; j < items; ++j) {
        // Every fifth restriction on the first item alone; the others on about half the items.
        const double g = k % 5 == 0 ? (j == 0 ? (k % 2 == 0 ? 1.0 : -1.0) : 0.0)
                         : uniform(0.0, 1.0) < 0.5 ? 0.0
                                                   : std::round(uniform(-2.0, 2.0) * 4.0) / 4.0;
        r.coefficients.push_back(g);
        at_start += g * start[j];
      }
      r.constant = at_start - uniform(0.05, 0.6);
    }
    const std::vector<std::size_t> ends = stage_ends(restrictions.size(), items);
    ASSERT_EQ(ends.size(), std::max<std::size_t>(64, 2 * items));
    ChainSettings settings{c.niter, 3, 7, StreamKind::FitSweeps};
    const auto sparse = std::make_shared<const SparseRestrictions>(restrictions, items);
    const auto draws = std::make_shared<const std::vector<TruncatedBeta>>(item_draws(shape_a, shape_b));
    const std::vector<StageCount> plain = run_stage_chain(restrictions, start, shape_a, shape_b, settings);
    ASSERT_EQ(plain.size(), ends.size());
    std::size_t cutting = 0;  // stages whose restrictions cut into their chain's distribution
    for (const StageCount& count : plain) cutting += count.hits > 0 && count.hits < settings.niter ? 1 : 0;
    EXPECT_GE(cutting, 10u);
    for (std::size_t t = 1; t <= ends.size(); ++t) {
      StageChain chain(sparse, t, start, draws, settings, band_moves(restrictions, shape_a, shape_b), nullptr,
                       StageRange{t == 1 ? 0 : ends[t - 2], ends[t - 1]});
      chain.run_to(settings.niter / 3 + 5);  // not a multiple of the refresh interval
      chain.run_to(settings.niter);
      EXPECT_EQ(chain.count().hits, plain[t - 1].hits) << "stage " << t;
      EXPECT_EQ(chain.count().effective_sweeps, plain[t - 1].effective_sweeps) << "stage " << t;
    }
  }
}

// The single-precision filter of grouped restrictions answers as the plain check, on
// states drawn at random and on states that put rows within a rounding of their
// constant (where only the double sum decides), including rows whose constant is large
// beside their coefficients; its first failure is the plain scan's.
TEST(RowFilter, AnswersAsThePlainCheck) {
  std::mt19937_64 engine(41u);
  auto uniform = [&engine](double low, double high) {
    return low + (high - low) * std::uniform_real_distribution<double>(0.0, 1.0)(engine);
  };
  for (const std::size_t items : {std::size_t{3}, std::size_t{7}, std::size_t{20}}) {
    SCOPED_TRACE(items);
    std::vector<double> at(items);
    for (double& x : at) x = uniform(0.2, 0.8);
    std::vector<Restriction> restrictions(300);
    for (std::size_t k = 0; k < restrictions.size(); ++k) {
      Restriction& r = restrictions[k];
      double value = 0.0;
      for (std::size_t j = 0; j < items; ++j) {
        const double g = k % 7 == 0 ? (j == k % items ? 1.0 : 0.0)  // some rows on one item alone
                                    : std::round(uniform(-3.0, 3.0)) * (k % 11 == 0 ? 1e3 : 1.0);
        r.coefficients.push_back(g);
        value += g * at[j];
      }
      // A third of the rows exactly at `at` (the double sum decides), the others around it.
      r.constant = k % 3 == 0 ? value : value - uniform(-0.3, 0.3);
    }
    const SparseRestrictions sparse(restrictions, items);
    ASSERT_NE(sparse.filter(), nullptr);
    const auto plain_first = [&](std::size_t from, const std::vector<double>& state) {
      for (std::size_t k = from; k < restrictions.size(); ++k) {
        if (sparse.terms_end(k) - sparse.terms_begin(k) == 1) continue;  // the filter reads the others
        double value = 0.0;
        for (std::size_t j = 0; j < items; ++j) value += restrictions[k].coefficients[j] * state[j];
        if (!(value > restrictions[k].constant)) return k;
      }
      return restrictions.size();
    };
    for (int round = 0; round < 400; ++round) {
      std::vector<double> state = at;
      if (round % 2 == 1) {
        for (double& x : state) x = uniform(0.0, 1.0);
      } else if (round % 4 == 2) {
        state[static_cast<std::size_t>(round) % items] = std::nextafter(state[static_cast<std::size_t>(round) % items], 1.0);
      }
      const std::size_t from = static_cast<std::size_t>(round) % 50;
      const std::size_t limit = from + 100 + static_cast<std::size_t>(round) % 150;
      const std::size_t first = plain_first(from, state);
      EXPECT_EQ(sparse.filter()->first_failure(sparse, from, state), first);
      EXPECT_EQ(sparse.filter()->holds(sparse, from, limit, state), first >= limit);
    }
  }
}

// The next stage's end from the pilot's first failures: the largest end up to which at
// least a fifth of the sweeps hold, at least one row further, at most every row.
TEST(PilotStageEnds, NextEndFromTheFirstFailures) {
  struct Case {
    std::vector<std::size_t> failures;
    std::size_t end;
    std::size_t expected;
  };
  const Case cases[] = {
      {{12, 15, 20, 30, 40}, 10, 40},           // a fifth of 5: the latest failure
      {{12, 15, 20, 30, 40, 50, 60, 70, 80, 90}, 10, 80},  // two of ten hold up to row 80
      {{10, 10, 10, 10, 10}, 10, 11},           // every sweep fails at once: one row further
      {{100, 100, 100, 13, 14}, 10, 100},       // most hold every row: the rest in one stage
      {{}, 10, 100},
  };
  for (const Case& c : cases) EXPECT_EQ(next_stage_end(c.failures, c.end, 100), c.expected);
}

// Pilot ends of a grouped problem: increasing, ending at the last row, the same on every
// call (the pilots' streams are keyed), and fewer stages than the geometric rule gives.
TEST(PilotStageEnds, KeyedIncreasingAndFew) {
  const std::size_t items = 6;
  std::vector<Restriction> restrictions;
  // x_j > x_(j+1) - 0.1 k / 400 for k = 0 ... 399 (cycling over the pairs): the first rows cut
  // most, the later ones less and less.
  for (std::size_t k = 0; k < 400; ++k) {
    Restriction r{std::vector<double>(items, 0.0), -0.1 * static_cast<double>(k) / 400.0, ""};
    r.coefficients[k % (items - 1)] = 1.0;
    r.coefficients[k % (items - 1) + 1] = -1.0;
    restrictions.push_back(r);
  }
  const StartPoint start = find_start_point(restrictions, items);
  ASSERT_TRUE(start.interior);
  const auto sparse = std::make_shared<const SparseRestrictions>(restrictions, items);
  const auto draws = std::make_shared<const std::vector<TruncatedBeta>>(
      item_draws(std::vector<double>(items, 1.0), std::vector<double>(items, 1.0)));
  const PilotEnds ends = pilot_stage_ends(sparse, start.centre, draws, nullptr, 5, 9, StreamKind::ComplexityEndPilot);
  ASSERT_FALSE(ends.ends.empty());
  EXPECT_EQ(ends.ends.back(), restrictions.size());
  for (std::size_t s = 1; s < ends.ends.size(); ++s) EXPECT_GT(ends.ends[s], ends.ends[s - 1]);
  EXPECT_LT(ends.ends.size(), stage_ends(restrictions.size(), items).size());
  EXPECT_GT(ends.last_share, 0.0);
  EXPECT_EQ(pilot_stage_ends(sparse, start.centre, draws, nullptr, 5, 9, StreamKind::ComplexityEndPilot).ends, ends.ends);
}

// The start point of a grouped hypothesis (cutting planes over its rows) has the radius
// of the programme over the rows that bind: 40 restrictions, then 200 weaker copies of
// them (the same rows with lower constants), which a ball inside the 40 fits anyway.
TEST(StartPoint, CuttingPlanesFindTheWholeProgrammesRadius) {
  std::mt19937_64 engine(3u);
  const std::size_t items = 5;
  std::vector<Restriction> binding;
  for (std::size_t k = 0; k < 40; ++k) {
    Restriction r{std::vector<double>(items, 0.0), 0.0, ""};
    for (double& g : r.coefficients) g = std::round(std::uniform_real_distribution<double>(-2.0, 2.0)(engine));
    double at_middle = 0.0;
    for (double g : r.coefficients) at_middle += 0.5 * g;
    r.constant = at_middle - 0.3;
    binding.push_back(r);
  }
  std::vector<Restriction> grouped;
  for (std::size_t k = 0; k < 200; ++k) {
    Restriction weaker = binding[(k * 7) % binding.size()];
    weaker.constant -= 0.05 + 0.001 * static_cast<double>(k);
    grouped.push_back(weaker);
  }
  grouped.insert(grouped.end(), binding.begin(), binding.end());  // the binding rows last
  const StartPoint few = find_start_point(binding, items);
  const StartPoint many = find_start_point(grouped, items);
  ASSERT_TRUE(few.interior);
  ASSERT_TRUE(many.interior);
  EXPECT_NEAR(many.radius, few.radius, 1e-9);
}

// A restriction on one item alone is read from a threshold: on the doubles next to its
// bound c / g (and at 0, 1, the infinities), x passes the threshold exactly when
// 0 + g x > c, as the plain check computes it; two restrictions on the item: both.
TEST(SparseRestrictions, ThresholdsOfRestrictionsOnOneItemMatchTheirCheck) {
  std::mt19937_64 engine(5u);
  const std::vector<double> specials{0.0, -0.0, 1.0, 1e-300, 1e300, std::numeric_limits<double>::infinity()};
  for (int round = 0; round < 400; ++round) {
    std::vector<Restriction> restrictions;
    for (int k = 0; k < 2; ++k) {
      const double g = (engine() % 2 == 0 ? 1.0 : -1.0) *
                       (round % 7 == 0 ? specials[engine() % specials.size()] + 1e-3 : 0.1 + std::ldexp(static_cast<double>(engine() >> 11), -50));
      const double c = round % 5 == 0 ? specials[engine() % specials.size()] * (engine() % 2 == 0 ? 1.0 : -1.0)
                                      : std::ldexp(static_cast<double>(engine() >> 11), -53) * 3.0 - 1.0;
      restrictions.push_back({{g}, c, ""});
    }
    const SparseRestrictions sparse(restrictions, 1);
    for (std::size_t limit = 1; limit <= 2; ++limit) {
      const SparseRestrictions::Alone alone = sparse.alone(0, limit);
      ASSERT_TRUE(alone.any);
      std::vector<double> xs(specials);
      for (double v : specials) xs.push_back(-v);
      for (std::size_t k = 0; k < limit; ++k) {
        double x = restrictions[k].constant / restrictions[k].coefficients[0];
        for (int step = 0; step < 3; ++step) x = std::nextafter(x, -INFINITY);
        for (int step = 0; step < 7; ++step, x = std::nextafter(x, INFINITY)) xs.push_back(x);
      }
      for (double x : xs) {
        bool holds = true;
        for (std::size_t k = 0; k < limit; ++k) holds = holds && 0.0 + restrictions[k].coefficients[0] * x > restrictions[k].constant;
        EXPECT_EQ(x >= alone.least && x <= alone.most, holds) << "round " << round << ", x " << x;
      }
    }
  }
}

// The selected order statistics against a full sort with NaNs last, on values with
// ties, zeros, infinities and NaNs, in random, ascending and descending order, all
// equal, and with every 32nd value the largest or the smallest (a regular sample of
// them misleads the selection, which must still be exact).
TEST(OrderInterval, SelectionMatchesFullSort) {
  std::mt19937_64 engine(7u);
  for (int round = 0; round < 16; ++round) {
    std::vector<double> values(static_cast<std::size_t>(kReplications));
    for (double& v : values) {
      const std::uint64_t kind = engine() % 100;
      if (kind < static_cast<std::uint64_t>(round * 2 % 24)) {
        v = std::numeric_limits<double>::quiet_NaN();
      } else if (kind < static_cast<std::uint64_t>(round * 3 % 36)) {
        v = kind % 2 == 0 ? 0.0 : std::numeric_limits<double>::infinity();
      } else {
        v = round % 3 == 0 ? static_cast<double>(engine() % 50) : std::ldexp(static_cast<double>(engine() >> 11), -53);
      }
    }
    if (round == 4 || round == 5) std::sort(values.begin(), values.end());
    if (round == 5) std::reverse(values.begin(), values.end());
    if (round == 12) std::fill(values.begin(), values.end(), 0.25);
    for (std::size_t i = 0; round >= 13 && i < values.size(); i += 32) values[i] = round == 14 ? -1.0 : 2.0;
    if (round == 15) values[0] = std::nan("");
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end(), [](double x, double y) {
      if (std::isnan(x)) return false;
      if (std::isnan(y)) return true;
      return x < y;
    });
    const Interval selected = order_interval(values);
    for (int end = 0; end < 2; ++end) {
      const double expected = sorted[static_cast<std::size_t>((end == 0 ? kLowerPosition : kUpperPosition) - 1)];
      if (std::isnan(expected)) {
        EXPECT_TRUE(std::isnan(selected[end])) << "round " << round;
      } else {
        EXPECT_EQ(selected[end], expected) << "round " << round;
      }
    }
  }
}

// The replications in blocks on 1 to 3 threads against the literal form, on generated
// stage counts: shares of 0 and 1 (the gamma-free deviates), huge shapes (the gamma
// ratio), corrected and independent, one to four stages.
TEST(ReplicationIntervals, BlocksMatchPlainReplications) {
  std::mt19937_64 engine(11u);
  for (int round = 0; round < 6; ++round) {
    std::vector<HypothesisResult> results(2);
    for (HypothesisResult& result : results) {
      result.niter = round == 5 ? 3000000000 : static_cast<std::int64_t>(20 + engine() % 40000);
      const std::size_t stages = 1 + engine() % 4;
      for (std::vector<StageCount>* counts : {&result.complexity_stages, &result.fit_stages}) {
        for (std::size_t t = 0; t < stages; ++t) {
          StageCount count;
          const std::uint64_t kind = engine() % 8;
          count.hits = kind == 0 ? 0 : kind == 1 ? result.niter
                                               : static_cast<std::int64_t>(engine() % static_cast<std::uint64_t>(result.niter));
          count.effective_sweeps = static_cast<double>(result.niter) * std::ldexp(static_cast<double>(engine() >> 11), -53);
          counts->push_back(count);
        }
      }
    }
    std::vector<HypothesisResult> plain = results;
    std::vector<IntervalJob> jobs;
    std::vector<IntervalJob> plain_jobs;
    for (std::size_t h = 0; h < results.size(); ++h) {
      for (const bool corrected : {true, false}) {
        jobs.push_back({&results[h], h, corrected});
        plain_jobs.push_back({&plain[h], h, corrected});
      }
    }
    replication_intervals_plain(plain_jobs, 5 + static_cast<std::uint64_t>(round));
    for (int threads = 1; threads <= 3; ++threads) {
      replication_intervals(jobs, 5 + static_cast<std::uint64_t>(round), threads);
      for (std::size_t h = 0; h < results.size(); ++h) {
        const HypothesisResult& r = results[h];
        const HypothesisResult& p = plain[h];
        for (const auto& [fast, literal] :
             {std::pair{r.bf_unconstrained_interval, p.bf_unconstrained_interval},
              std::pair{r.bf_complement_interval, p.bf_complement_interval},
              std::pair{r.bf_unconstrained_interval_independent, p.bf_unconstrained_interval_independent},
              std::pair{r.bf_complement_interval_independent, p.bf_complement_interval_independent}}) {
          for (int end = 0; end < 2; ++end) {
            if (std::isnan(literal[end])) {
              EXPECT_TRUE(std::isnan(fast[end])) << "round " << round;
            } else {
              EXPECT_EQ(fast[end], literal[end]) << "round " << round << ", threads " << threads;
            }
          }
        }
      }
    }
  }
}

// A grouped hypothesis of known complexity: the ordering x1 > ... > x5 of uniform items
// (1/120), given as its ten pairs and redundant rows x_a + x_b - x_c - x_d > 0 (a < c,
// b < d, so not of the pair form the exact complexities read): the product of the
// grouped stages' shares lies within four standard errors of 1/120.
TEST(StageChain, GroupedOrderingHasItsComplexity) {
  const std::size_t items = 5;
  std::vector<Restriction> restrictions;
  auto row = [&](std::vector<std::pair<std::size_t, double>> terms) {
    Restriction r;
    r.coefficients.assign(items, 0.0);
    for (const auto& [j, g] : terms) r.coefficients[j] += g;
    restrictions.push_back(r);
  };
  for (std::size_t a = 0; a < items; ++a) {
    for (std::size_t c = a + 1; c < items; ++c) row({{a, 1.0}, {c, -1.0}});
  }
  for (std::size_t a = 0; a < items; ++a) {
    for (std::size_t b = a + 1; b < items; ++b) {
      for (std::size_t c = a + 1; c < items; ++c) {
        for (std::size_t d = b + 1; d < items; ++d) {
          if (c != d && a != d && b != c) row({{a, 1.0}, {b, 1.0}, {c, -1.0}, {d, -1.0}});
        }
      }
    }
  }
  while (restrictions.size() <= 64) restrictions.push_back(restrictions[restrictions.size() % 10]);
  const std::vector<std::size_t> ends = stage_ends(restrictions.size(), items);
  ASSERT_EQ(ends.size(), 64u);
  const std::vector<double> start{0.9, 0.7, 0.5, 0.3, 0.1};
  const std::vector<double> ones(items, 1.0);
  const auto sparse = std::make_shared<const SparseRestrictions>(restrictions, items);
  const auto draws = std::make_shared<const std::vector<TruncatedBeta>>(item_draws(ones, ones));
  const ChainSettings settings{20000, 11, 5, StreamKind::ComplexitySweeps};
  double log_share = 0.0;
  double variance = 0.0;  // of the log share, from each stage's effective sweeps
  for (std::size_t t = 1; t <= ends.size(); ++t) {
    StageChain chain(sparse, t, start, draws, settings, nullptr, nullptr, StageRange{t == 1 ? 0 : ends[t - 2], ends[t - 1]});
    chain.run_to(settings.niter);
    const StageCount count = chain.count();
    const double p = static_cast<double>(count.hits) / static_cast<double>(settings.niter);
    ASSERT_GT(p, 0.0);
    log_share += std::log(p);
    variance += (1.0 - p) / p / count.effective_sweeps;
  }
  EXPECT_NEAR(log_share, std::log(1.0 / 120.0), 4.0 * std::sqrt(variance));
  EXPECT_LT(std::sqrt(variance), 0.1);
}

}  // namespace
}  // namespace propbf::evaluate
