#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>

#include "correction/sizes.h"
#include "intervals/bounds.h"
#include "intervals/intervals.h"

namespace tolbe::intervals {
namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

// The jackknife runs over fixed chunks of rows, whatever the threads, and
// the chunks' sums are added in chunk order: the same numbers on any
// number of threads.
constexpr int jackknife_chunk = 256;

// Resampled rows are gathered into blocks of this many, column by column,
// so that each cross product is a dot product over contiguous values.
constexpr int block_rows = 64;

std::size_t sz(int n) {
  return static_cast<std::size_t>(n);
}

int chunks(int rows) {
  return rows <= 0 ? 0 : (rows + jackknife_chunk - 1) / jackknife_chunk;
}

// SplitMix64 (Steele, Lea and Flood 2014): each resample's draws come from
// its own stream, seeded from the seed, the resample and the sample.
struct Stream {
  std::uint64_t state;
  std::uint64_t next() {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  // Uniform on 0..n-1 without bias (Lemire 2019), n < 2^31.
  int below(int n) {
    auto range = static_cast<std::uint32_t>(n);
    std::uint64_t product = (next() >> 32) * range;
    auto low = static_cast<std::uint32_t>(product);
    if (low < range) {
      std::uint32_t threshold = static_cast<std::uint32_t>(-range) % range;
      while (low < threshold) {
        product = (next() >> 32) * range;
        low = static_cast<std::uint32_t>(product);
      }
    }
    return static_cast<int>(product >> 32);
  }
};

Stream stream_for(std::uint64_t seed, int resample, int sample) {
  Stream s{seed};
  std::uint64_t mixed = s.next();
  Stream t{mixed ^ (static_cast<std::uint64_t>(resample) * 2 + static_cast<std::uint64_t>(sample))};
  t.state = t.next();
  return t;
}

// What one thread works in.
struct Lane {
  double* correction;  // lawley_blocks_size(p, q)
  double* cross;       // q x q
  double* sums;        // q
  double* v;           // q x q
  double* pool_cross;  // p x p
  double* pool_sums;   // p
  double* s;           // p x p
  double* cov;         // q x q
  double* corr;        // q x q
  double* slots;       // values_per_resample
  double* block;       // max(q, p) * block_rows
  double* extra_scratch;
};

std::size_t lane_doubles(int q, int p, const ExtraValues& extra) {
  std::size_t qq = sz(q) * sz(q);
  std::size_t pp = sz(p) * sz(p);
  std::size_t total = lawley_blocks_size(p, q);
  total = saturating_plus(total, saturating_times(5, qq));
  total = saturating_plus(total, sz(q) + 2 * pp + sz(p));
  total = saturating_plus(total, saturating_times(sz(std::max(q, p)), block_rows));
  total = saturating_plus(total, extra.scratch);
  return saturating_plus(total, values_per_resample(q) + sz(extra.count));
}

Lane carve_lane(int q, int p, const ExtraValues& extra, double* w) {
  std::size_t qq = sz(q) * sz(q);
  std::size_t pp = sz(p) * sz(p);
  Lane l{};
  auto take = [&w](std::size_t n) {
    double* start = w;
    w += n;
    return start;
  };
  l.correction = take(lawley_blocks_size(p, q));
  l.cross = take(qq);
  l.sums = take(sz(q));
  l.v = take(qq);
  l.pool_cross = take(pp);
  l.pool_sums = take(sz(p));
  l.s = take(pp);
  l.cov = take(qq);
  l.corr = take(qq);
  l.slots = take(values_per_resample(q) + sz(extra.count));
  l.extra_scratch = take(extra.scratch);
  l.block = take(sz(std::max(q, p)) * block_rows);
  return l;
}

double dot(const double* x, const double* y, int n) {
  // Four sums in a fixed order: independent additions, the same result on
  // every run.
  double s0 = 0.0;
  double s1 = 0.0;
  double s2 = 0.0;
  double s3 = 0.0;
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    s0 += x[i] * y[i];
    s1 += x[i + 1] * y[i + 1];
    s2 += x[i + 2] * y[i + 2];
    s3 += x[i + 3] * y[i + 3];
  }
  for (; i < n; ++i) s0 += x[i] * y[i];
  return (s0 + s1) + (s2 + s3);
}

// One correction's values into the lane's slots: the matrices', then the
// extra ones. False when V11 is not positive definite; a value that is not
// finite (a variance <= 0, a variable that does not vary) is left as it is.
bool evaluate(const BootstrapInput& in, ConstView v, ConstView s, const LawleyBlocks& blocks,
              const Lane& l) {
  int ld_q = at_least_one(in.q);
  if (!correct_into_slots(in.q, in.p, in.order, v, s, blocks, {l.cov, ld_q}, {l.corr, ld_q},
                          l.slots)) {
    return false;
  }
  // Extra values that cannot be computed are NaN: only they miss this
  // resample.
  if (in.extra.count > 0) {
    in.extra.compute(in.extra.context, {l.cov, ld_q}, l.slots + values_per_resample(in.q),
                     l.extra_scratch);
  }
  return true;
}

// The var/cov matrix (divisor count - 1) of the rows `draw` picks from the
// row-major `centred` (columns wide), symmetric, into `out` (ld columns).
// `block` holds columns * block_rows values.
template <typename Draw>
void resampled_covariance(const double* centred, int columns, int count, Draw draw, double* cross,
                          double* sums, double* block, double* out) {
  std::size_t c = sz(columns);
  std::fill(cross, cross + c * c, 0.0);
  std::fill(sums, sums + c, 0.0);
  for (int start = 0; start < count; start += block_rows) {
    int rows = std::min(block_rows, count - start);
    for (int r = 0; r < rows; ++r) {
      const double* z = centred + sz(draw(start + r)) * c;
      for (std::size_t k = 0; k < c; ++k) block[k * block_rows + sz(r)] = z[k];
    }
    for (std::size_t l = 0; l < c; ++l) {
      const double* column_l = block + l * block_rows;
      double sum = 0.0;
      for (int r = 0; r < rows; ++r) sum += column_l[r];
      sums[l] += sum;
      for (std::size_t k = 0; k <= l; ++k) {
        cross[k + l * c] += dot(block + k * block_rows, column_l, rows);
      }
    }
  }
  double n = count;
  for (std::size_t l = 0; l < c; ++l) {
    for (std::size_t k = 0; k <= l; ++k) {
      double value = (cross[k + l * c] - sums[k] * sums[l] / n) / (n - 1.0);
      out[k + l * c] = value;
      out[l + k * c] = value;
    }
  }
}

// The leave-one-out var/cov matrix: from the full sample's centred cross
// products (its var/cov matrix times count - 1) less the row's share.
void downdated_covariance(const double* full, const double* centred, int columns, int count,
                          int row, const double* means, double* out) {
  std::size_t c = sz(columns);
  const double* z = centred + sz(row) * c;
  double n = count;
  double share = n / (n - 1.0);
  for (std::size_t l = 0; l < c; ++l) {
    double dl = z[l] - means[l];
    for (std::size_t k = 0; k <= l; ++k) {
      double value = (full[k + l * c] * (n - 1.0) - share * (z[k] - means[k]) * dl) / (n - 2.0);
      out[k + l * c] = value;
      out[l + k * c] = value;
    }
  }
}

void column_means(const double* centred, int columns, int rows, double* means) {
  std::size_t c = sz(columns);
  std::fill(means, means + c, 0.0);
  for (int i = 0; i < rows; ++i) {
    for (std::size_t k = 0; k < c; ++k) means[k] += centred[sz(i) * c + k];
  }
  for (std::size_t k = 0; k < c; ++k) means[k] /= rows;
}

template <typename Work>
void run_parallel(int threads, int tasks, Work work) {
  int used = std::max(1, std::min(threads, tasks));
  auto begin_of = [tasks, used](int t) {
    return static_cast<int>(static_cast<long long>(t) * tasks / used);
  };
  // Contiguous shares: lane t takes tasks [begin_of(t), begin_of(t + 1)).
  // A thread that cannot be started leaves its share to this one, in its
  // own lane: the numbers do not depend on who computes them.
  std::thread pool[max_lanes];
  bool started[max_lanes] = {};
  for (int t = 1; t < used; ++t) {
    try {
      pool[t] = std::thread(work, t, begin_of(t), begin_of(t + 1));
      started[t] = true;
    } catch (...) {
      started[t] = false;
    }
  }
  work(0, 0, begin_of(1));
  for (int t = 1; t < used; ++t) {
    if (started[t]) {
      pool[t].join();
    } else {
      work(t, begin_of(t), begin_of(t + 1));
    }
  }
}

// The BCa accelerations from the jackknife, over both samples: per chunk of
// rows, the count and the first three power sums of the leave-one-out
// values less the full-sample value, then the acceleration of each value.
void accelerations(const BootstrapInput& in, int lanes, double* lane_storage, double* moments,
                   double* means, double* pool_means, double* acceleration) {
  int q = in.q;
  int p = in.p;
  std::size_t values = values_per_resample(q) + sz(in.extra.count);
  int restricted_chunks = chunks(in.rows);
  int pool_chunks = in.pool_centred == nullptr ? 0 : chunks(in.pool_rows);
  int ld_q = at_least_one(q);
  int ld_p = at_least_one(p);
  auto lane = [&](int t) {
    return carve_lane(q, p, in.extra, lane_storage + sz(t) * lane_doubles(q, p, in.extra));
  };
  column_means(in.centred, q, in.rows, means);
  if (in.pool_centred != nullptr) column_means(in.pool_centred, p, in.pool_rows, pool_means);
  int total_chunks = restricted_chunks + pool_chunks;
  run_parallel(lanes, total_chunks, [&](int t, int begin, int end) {
    Lane l = lane(t);
    LawleyBlocks blocks = carve_lawley_blocks(p, q, l.correction);
    for (int chunk = begin; chunk < end; ++chunk) {
      double* m = moments + sz(chunk) * 4 * values;
      std::fill(m, m + 4 * values, 0.0);
      bool of_pool = chunk >= restricted_chunks;
      int first = (of_pool ? chunk - restricted_chunks : chunk) * jackknife_chunk;
      int rows = of_pool ? in.pool_rows : in.rows;
      int last = std::min(rows, first + jackknife_chunk);
      for (int i = first; i < last; ++i) {
        ConstView v = in.restricted;
        ConstView s = in.unrestricted;
        if (of_pool) {
          downdated_covariance(in.unrestricted.data, in.pool_centred, p, in.pool_rows, i,
                               pool_means, l.s);
          s = {l.s, ld_p};
        } else {
          downdated_covariance(in.restricted.data, in.centred, q, in.rows, i, means, l.v);
          v = {l.v, ld_q};
        }
        if (!evaluate(in, v, s, blocks, l)) continue;
        for (std::size_t k = 0; k < values; ++k) {
          double u = l.slots[k] - in.estimates[k];
          if (!std::isfinite(u)) continue;  // this value only
          m[4 * k] += 1.0;
          m[4 * k + 1] += u;
          m[4 * k + 2] += u * u;
          m[4 * k + 3] += u * u * u;
        }
      }
    }
  });
  // a = sum_k sum_i l_ki^3 / n_k^3 / (6 (sum_k sum_i l_ki^2 / n_k^2)^(3/2)) over
  // the samples k, with the influence values l_ki = (n_k - 1)(mean - value_i).
  for (std::size_t k = 0; k < values; ++k) {
    double numerator = 0.0;
    double denominator = 0.0;
    for (int sample = 0; sample < (pool_chunks > 0 ? 2 : 1); ++sample) {
      int from = sample == 0 ? 0 : restricted_chunks;
      int to = sample == 0 ? restricted_chunks : restricted_chunks + pool_chunks;
      double count = 0.0;
      double s1 = 0.0;
      double s2 = 0.0;
      double s3 = 0.0;
      for (int chunk = from; chunk < to; ++chunk) {
        const double* m = moments + sz(chunk) * 4 * values + 4 * k;
        count += m[0];
        s1 += m[1];
        s2 += m[2];
        s3 += m[3];
      }
      if (count < 2.0) continue;
      double mean = s1 / count;
      double second = s2 - count * mean * mean;
      double third = s3 - 3.0 * mean * s2 + 2.0 * count * mean * mean * mean;
      double scale = (count - 1.0) / count;
      numerator += -third * scale * scale * scale;
      denominator += second * scale * scale;
    }
    acceleration[k] =
        denominator > 0.0 ? numerator / (6.0 * denominator * std::sqrt(denominator)) : 0.0;
  }
}

}  // namespace

std::size_t covariance_slot(int i, int j) {
  return sz(i) + sz(j) * (sz(j) + 1) / 2;
}

std::size_t correlation_slot(int q, int i, int j) {
  return sz(q) * (sz(q) + 1) / 2 + sz(i) + sz(j) * (sz(j) - 1) / 2;
}

bool correct_into_slots(int q, int p, const int* order, ConstView restricted,
                        ConstView unrestricted, const LawleyBlocks& blocks, View cov, View corr,
                        double* slots) {
  if (lawley_products(p, q, restricted, unrestricted, order, blocks) != 0) return false;
  lawley_assemble(p, q, unrestricted, blocks, order, cov);
  cov_to_corr(q, cov, corr);
  for (int j = 0; j < q; ++j) {
    for (int i = 0; i <= j; ++i) {
      slots[covariance_slot(i, j)] = cov(i, j);
      if (i < j) slots[correlation_slot(q, i, j)] = corr(i, j);
    }
  }
  return true;
}

void jackknife_accelerations(const BootstrapInput& in, std::vector<double>& acceleration) {
  std::size_t values = values_per_resample(in.q) + sz(in.extra.count);
  int lanes = bootstrap_lanes(in.threads, in.rows);
  std::vector<double> lane_storage(sz(lanes) * lane_doubles(in.q, in.p, in.extra));
  int pool_rows = in.pool_centred == nullptr ? 0 : in.pool_rows;
  std::vector<double> moments(sz(chunks(in.rows) + chunks(pool_rows)) * 4 * values);
  std::vector<double> means(sz(in.q));
  std::vector<double> pool_means(sz(in.p));
  acceleration.assign(values, 0.0);
  accelerations(in, lanes, lane_storage.data(), moments.data(), means.data(), pool_means.data(),
                acceleration.data());
}

int bootstrap_lanes(int threads, int resamples) {
  return std::max(1, std::min({threads, resamples, max_lanes}));
}

std::size_t bootstrap_doubles(int q, int p, int rows, int pool_rows, int resamples, int threads,
                              const ExtraValues& extra) {
  std::size_t values = values_per_resample(q) + sz(extra.count);
  std::size_t total = saturating_times(values, sz(resamples));
  total = saturating_plus(
      total, saturating_times(sz(bootstrap_lanes(threads, resamples)), lane_doubles(q, p, extra)));
  total = saturating_plus(
      total, saturating_times(sz(chunks(rows) + chunks(pool_rows)), saturating_times(4, values)));
  // Means of the centred scores, and the accelerations.
  total = saturating_plus(total, sz(q) + sz(p) + values);
  return total;
}

std::size_t bootstrap_ints(int /*q*/, int resamples) {
  return sz(resamples);
}

int bootstrap(const BootstrapInput& in, BootstrapInterval interval, double level, double* se,
              double* lower, double* upper, double* workspace, int* int_workspace,
              int* percentile_fallbacks) {
  *percentile_fallbacks = 0;
  int q = in.q;
  int p = in.p;
  int b_count = in.resamples;
  std::size_t values = values_per_resample(q) + sz(in.extra.count);
  double* w = workspace;
  auto take = [&w](std::size_t n) {
    double* start = w;
    w += n;
    return start;
  };
  double* replicates = take(values * sz(b_count));  // value v of resample b at v * B + b
  int lanes = bootstrap_lanes(in.threads, b_count);
  double* lane_storage = take(sz(lanes) * lane_doubles(q, p, in.extra));
  int restricted_chunks = chunks(in.rows);
  int pool_chunks = in.pool_centred == nullptr ? 0 : chunks(in.pool_rows);
  double* moments = take(sz(restricted_chunks + pool_chunks) * 4 * values);
  double* means = take(sz(q));
  double* pool_means = take(sz(p));
  double* acceleration = take(values);
  std::fill(acceleration, acceleration + values, 0.0);
  int* failed = int_workspace;

  auto lane = [&](int t) {
    return carve_lane(q, p, in.extra, lane_storage + sz(t) * lane_doubles(q, p, in.extra));
  };
  int ld_q = at_least_one(q);
  int ld_p = at_least_one(p);

  // The resamples.
  run_parallel(lanes, b_count, [&](int t, int begin, int end) {
    Lane l = lane(t);
    LawleyBlocks blocks = carve_lawley_blocks(p, q, l.correction);
    for (int b = begin; b < end; ++b) {
      Stream draws = stream_for(in.seed, b, 0);
      resampled_covariance(
          in.centred, q, in.rows, [&draws, &in](int) { return draws.below(in.rows); }, l.cross,
          l.sums, l.block, l.v);
      ConstView s = in.unrestricted;
      if (in.pool_centred != nullptr) {
        Stream pool_draws = stream_for(in.seed, b, 1);
        resampled_covariance(
            in.pool_centred, p, in.pool_rows,
            [&pool_draws, &in](int) { return pool_draws.below(in.pool_rows); }, l.pool_cross,
            l.pool_sums, l.block, l.s);
        s = {l.s, ld_p};
      }
      bool ok = evaluate(in, {l.v, ld_q}, s, blocks, l);
      failed[b] = ok ? 0 : 1;
      for (std::size_t v = 0; v < values; ++v) {
        replicates[v * sz(b_count) + sz(b)] = ok ? l.slots[v] : not_a_number;
      }
    }
  });

  if (interval == BootstrapInterval::bca) {
    accelerations(in, lanes, lane_storage, moments, means, pool_means, acceleration);
  }

  // The intervals, from the good resamples of each value, sorted in place.
  int failures = 0;
  for (int b = 0; b < b_count; ++b) failures += failed[b];
  Quantiles z = two_sided(level);
  for (std::size_t k = 0; k < values; ++k) {
    double* t = replicates + k * sz(b_count);
    // The resamples in which this value is finite.
    int good = 0;
    for (int b = 0; b < b_count; ++b) {
      if (failed[b] == 0 && std::isfinite(t[b])) t[good++] = t[b];
    }
    double estimate = in.estimates[k];
    if (good < 2 || !std::isfinite(estimate)) {
      se[k] = lower[k] = upper[k] = not_a_number;
      continue;
    }
    double mean = 0.0;
    for (int b = 0; b < good; ++b) mean += t[b];
    mean /= good;
    double squares = 0.0;
    for (int b = 0; b < good; ++b) squares += (t[b] - mean) * (t[b] - mean);
    std::sort(t, t + good);
    if (t[0] == t[good - 1]) {
      // A value every resample reproduces (a selection variable's, with S
      // known): no sampling error, though the mean may round.
      se[k] = 0.0;
      lower[k] = upper[k] = t[0];
      continue;
    }
    se[k] = std::sqrt(squares / (good - 1));
    double alpha_low = (1.0 - level) / 2.0;
    double alpha_high = (1.0 + level) / 2.0;
    bool bounded = k >= values_per_resample(q) + sz(in.extra.percentile_from);
    if (interval == BootstrapInterval::bca && !bounded) {
      int below = static_cast<int>(std::lower_bound(t, t + good, estimate) - t);
      double z0 = normal_quantile(static_cast<double>(below) / good);
      double a = acceleration[k];
      // Where every resample falls on one side of the estimate the bias
      // correction is infinite, and where the acceleration is so large
      // that 1 - a (z0 + z) reaches 0 the adjusted levels fold over: BCa
      // is not defined, and the percentile interval stands in.
      double low = z0 + z.low;
      double high = z0 + z.high;
      double low_scale = 1.0 - a * low;
      double high_scale = 1.0 - a * high;
      bool defined = false;
      if (std::isfinite(z0) && low_scale > 0.0 && high_scale > 0.0) {
        double adjusted_low = normal_cdf(z0 + low / low_scale);
        double adjusted_high = normal_cdf(z0 + high / high_scale);
        if (adjusted_low <= adjusted_high) {
          alpha_low = adjusted_low;
          alpha_high = adjusted_high;
          defined = true;
        }
      }
      if (!defined) ++*percentile_fallbacks;
    }
    lower[k] = interpolated_quantile(t, good, alpha_low);
    upper[k] = interpolated_quantile(t, good, alpha_high);
  }
  return failures;
}

}  // namespace tolbe::intervals
