// SPDX-License-Identifier: MIT
#include "calibration_fit.h"

#include <Eigen/Dense>
#include <cmath>

namespace {

constexpr double pi = 3.14159265358979323846;

// Points taken as near one plane when their thinnest spread is under this
// share of their widest; as one cluster when their widest spread is under
// this share of their distance from the origin.
constexpr double planar_ratio = 0.15;
constexpr double cluster_ratio = 0.05;

using points_matrix = Eigen::Matrix<double, Eigen::Dynamic, 3>;

// The points centred on their mean and scaled to unit root-mean-square
// distance, so that the fits' equations are well conditioned.
struct normalised {
  points_matrix p;
  Eigen::RowVector3d mean;
  double scale;
};

normalised normalise(const double (*points)[3], int count) {
  normalised n;
  n.p.resize(count, 3);
  for (int k = 0; k < count; ++k) n.p.row(k) << points[k][0], points[k][1], points[k][2];
  n.mean = n.p.colwise().mean();
  n.p.rowwise() -= n.mean;
  const double rms = std::sqrt(n.p.rowwise().squaredNorm().mean());
  n.scale = rms > 0.0 ? rms : 1.0;
  n.p /= n.scale;
  return n;
}

// An ellipsoid (x - centre)^T shape (x - centre) = 1 in normalised units.
struct ellipsoid {
  Eigen::Vector3d centre;
  Eigen::Matrix3d shape;
  bool valid;
};

// Completes a fitted quadric: quadratic part q, linear part l, in
// x^T q x + 2 l^T x = 1. Valid when it is a real ellipsoid.
ellipsoid from_quadric(const Eigen::Matrix3d &q, const Eigen::Vector3d &l) {
  ellipsoid e{Eigen::Vector3d::Zero(), Eigen::Matrix3d::Identity(), false};
  Eigen::LDLT<Eigen::Matrix3d> ldlt(q);
  if (ldlt.info() != Eigen::Success) return e;
  e.centre = -ldlt.solve(l);
  const double k = 1.0 + e.centre.dot(q * e.centre);
  if (!(k > 0.0) || !e.centre.allFinite()) return e;
  e.shape = q / k;
  Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> solver(e.shape);
  e.valid = solver.info() == Eigen::Success && solver.eigenvalues().minCoeff() > 0.0;
  return e;
}

Eigen::VectorXd least_squares(const Eigen::MatrixXd &design, const Eigen::VectorXd &target) {
  return design.colPivHouseholderQr().solve(target);
}

// |x - c|^2 = r^2 as 2 c.x + (r^2 - |c|^2) = |x|^2.
ellipsoid fit_sphere(const points_matrix &p) {
  Eigen::MatrixXd design(p.rows(), 4);
  design << 2.0 * p, Eigen::VectorXd::Ones(p.rows());
  const Eigen::VectorXd s = least_squares(design, p.rowwise().squaredNorm());
  ellipsoid e{s.head<3>(), Eigen::Matrix3d::Identity(), false};
  const double r2 = s(3) + e.centre.squaredNorm();
  if (!(r2 > 0.0) || !s.allFinite()) return e;
  e.shape /= r2;
  e.valid = true;
  return e;
}

// a x^2 + b y^2 + c z^2 + 2 (g x + h y + i z) = 1.
ellipsoid fit_diagonal(const points_matrix &p) {
  Eigen::MatrixXd design(p.rows(), 6);
  design << p.array().square().matrix(), 2.0 * p;
  const Eigen::VectorXd s = least_squares(design, Eigen::VectorXd::Ones(p.rows()));
  return from_quadric(s.head<3>().asDiagonal(), s.tail<3>());
}

// The general quadric without its constant: 9 unknowns.
ellipsoid fit_full(const points_matrix &p) {
  Eigen::MatrixXd design(p.rows(), 9);
  const auto x = p.col(0).array();
  const auto y = p.col(1).array();
  const auto z = p.col(2).array();
  design << p.array().square().matrix(), (2.0 * x * y).matrix(), (2.0 * x * z).matrix(),
      (2.0 * y * z).matrix(), 2.0 * p;
  const Eigen::VectorXd s = least_squares(design, Eigen::VectorXd::Ones(p.rows()));
  Eigen::Matrix3d q;
  q << s(0), s(3), s(4), s(3), s(1), s(5), s(4), s(5), s(2);
  return from_quadric(q, s.tail<3>());
}

// Points near one plane: a circle in that plane, taken as a sphere centred
// on it, so that a module turned flat still gets its in-plane offsets.
ellipsoid fit_planar_circle(const points_matrix &p) {
  const Eigen::Matrix3d covariance = p.transpose() * p / static_cast<double>(p.rows());
  const Eigen::Matrix3d axes =
      Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d>(covariance).eigenvectors();
  const Eigen::MatrixXd in_plane = p * axes.rightCols<2>();
  Eigen::MatrixXd design(p.rows(), 3);
  design << 2.0 * in_plane, Eigen::VectorXd::Ones(p.rows());
  const Eigen::VectorXd s = least_squares(design, in_plane.rowwise().squaredNorm());
  ellipsoid e{axes.rightCols<2>() * s.head<2>(), Eigen::Matrix3d::Identity(), false};
  const double r2 = s(2) + s.head<2>().squaredNorm();
  if (!(r2 > 0.0) || !s.allFinite()) return e;
  e.shape /= r2;
  e.valid = true;
  return e;
}

ellipsoid fit_model(calib_model model, const points_matrix &p) {
  switch (model) {
    case calib_model_full: return fit_full(p);
    case calib_model_diagonal: return fit_diagonal(p);
    case calib_model_sphere: return fit_sphere(p);
    case calib_model_none: break;
  }
  return {Eigen::Vector3d::Zero(), Eigen::Matrix3d::Identity(), false};
}

calib_model richest_model(int count) {
  if (count >= calib_full_points) return calib_model_full;
  if (count >= calib_diagonal_points) return calib_model_diagonal;
  if (count >= calib_sphere_points) return calib_model_sphere;
  return calib_model_none;
}

calib_doubt shape_doubt(const normalised &n) {
  const Eigen::Matrix3d covariance = n.p.transpose() * n.p / static_cast<double>(n.p.rows());
  const Eigen::Vector3d spread = Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d>(covariance)
                                     .eigenvalues()
                                     .cwiseMax(0.0)
                                     .cwiseSqrt();
  // In normalised units the widest spread is at most 1; the mean's distance
  // is in them too.
  if (spread(2) * n.scale < cluster_ratio * n.mean.norm()) return calib_doubt_cluster;
  if (spread(0) < planar_ratio * spread(2)) return calib_doubt_planar;
  return calib_doubt_none;
}

// The ellipsoid in the readings' units, as offset, unit-determinant matrix
// and field.
void store(const ellipsoid &e, const normalised &n, geo_calibration *out) {
  const Eigen::Vector3d offset = n.mean.transpose() + n.scale * e.centre;
  const Eigen::Matrix3d shape = e.shape / (n.scale * n.scale);
  Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> solver(shape);
  const Eigen::Vector3d roots = solver.eigenvalues().cwiseSqrt();
  const double field = 1.0 / std::cbrt(roots.prod());
  const Eigen::Matrix3d matrix =
      solver.eigenvectors() * (roots * field).asDiagonal() * solver.eigenvectors().transpose();
  for (int i = 0; i < 3; ++i) {
    out->offset[i] = offset(i);
    for (int j = 0; j < 3; ++j) out->matrix[i][j] = matrix(i, j);
  }
  out->field = field;
}

calib_quality measure(const geo_calibration &c, const double (*points)[3], int count) {
  bool visited[calib_region_count] = {};
  double sum = 0.0;
  double sum_squares = 0.0;
  double sum_error_squares = 0.0;
  view_vector centre{0.0, 0.0, 0.0};
  for (int k = 0; k < count; ++k) {
    const view_vector v = calib_apply_geomagnetic(c, {points[k][0], points[k][1], points[k][2]});
    const int region = calib_region_of(v);
    if (region >= 0) visited[region] = true;
    const double length = view_magnitude(v);
    sum += length;
    sum_squares += length * length;
    sum_error_squares += (length - c.field) * (length - c.field);
    centre = {centre.x + v.x, centre.y + v.y, centre.z + v.z};
  }
  int empty = 0;
  for (bool v : visited) empty += v ? 0 : 1;
  const double n = count;
  const double mean = sum / n;
  const double deviation = std::sqrt(std::fmax(sum_squares / n - mean * mean, 0.0));
  calib_quality q;
  q.gaps = 100.0 * empty / calib_region_count;
  q.variance = 100.0 * deviation / mean;
  q.wobble = 100.0 * view_magnitude({centre.x / n, centre.y / n, centre.z / n}) / c.field;
  q.fit_error = 100.0 * std::sqrt(sum_error_squares / n) / c.field;
  return q;
}

}  // namespace

int calib_region_of(view_vector d) {
  const double length = view_magnitude(d);
  if (!(length > 0.0)) return -1;
  const int band = static_cast<int>(std::floor((d.z / length + 1.0) * 5.0));
  double longitude = std::atan2(d.y, d.x) + pi;  // 0 .. 2 pi
  int sector = static_cast<int>(std::floor(longitude / (2.0 * pi) * 10.0));
  if (sector > 9) sector = 9;
  return (band > 9 ? 9 : band) * 10 + sector;
}

bool calib_quality_good(const calib_quality &q) {
  return q.gaps < calib_gaps_limit && q.variance < calib_variance_limit &&
         q.wobble < calib_wobble_limit && q.fit_error < calib_fit_error_limit;
}

geo_calibration calib_none(int points) {
  geo_calibration c{};
  c.model = calib_model_none;
  c.doubt = calib_doubt_too_few;
  for (int i = 0; i < 3; ++i) c.matrix[i][i] = 1.0;
  c.points = points;
  c.quality = {100.0, 0.0, 0.0, 0.0};
  return c;
}

geo_calibration calib_fit_geomagnetic(const double (*points)[3], int count) {
  geo_calibration c = calib_none(count);
  calib_model model = richest_model(count);
  if (model == calib_model_none) return c;
  const normalised n = normalise(points, count);
  c.doubt = shape_doubt(n);
  if (c.doubt == calib_doubt_cluster) return c;
  if (c.doubt == calib_doubt_planar) model = calib_model_sphere;
  for (; model != calib_model_none; model = static_cast<calib_model>(model - 1)) {
    const ellipsoid e =
        c.doubt == calib_doubt_planar ? fit_planar_circle(n.p) : fit_model(model, n.p);
    if (e.valid) {
      c.model = model;
      store(e, n, &c);
      break;
    }
    c.doubt = calib_doubt_unstable;
  }
  if (c.model == calib_model_none) return c;
  c.quality = measure(c, points, count);
  if (c.doubt == calib_doubt_none && !calib_quality_good(c.quality)) c.doubt = calib_doubt_quality;
  c.good = c.doubt == calib_doubt_none;
  return c;
}

view_vector calib_apply_geomagnetic(const geo_calibration &c, view_vector reading) {
  const double d[3] = {reading.x - c.offset[0], reading.y - c.offset[1], reading.z - c.offset[2]};
  double out[3];
  for (int i = 0; i < 3; ++i)
    out[i] = c.matrix[i][0] * d[0] + c.matrix[i][1] * d[1] + c.matrix[i][2] * d[2];
  return {out[0], out[1], out[2]};
}

const char *calib_model_name(calib_model model) {
  switch (model) {
    case calib_model_sphere: return "sphere";
    case calib_model_diagonal: return "diagonal";
    case calib_model_full: return "full";
    case calib_model_none: break;
  }
  return "none";
}

const char *calib_doubt_text(calib_doubt doubt) {
  switch (doubt) {
    case calib_doubt_none: return "good";
    case calib_doubt_too_few: return "too few points";
    case calib_doubt_cluster: return "points in one cluster";
    case calib_doubt_planar: return "points near one plane";
    case calib_doubt_unstable: return "richer fit unstable";
    case calib_doubt_quality: return "a figure over its limit";
  }
  return "";
}
