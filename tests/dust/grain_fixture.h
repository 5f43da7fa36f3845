// Grain tables for tests: folders filled once per test program by the example
// data generator, the exactly interpolable plane tables and the example tables,
// and a par file with MIXDIF and MIXMOL sections.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "generators.h"
#include "support/test_support.h"

namespace qv::test {

// A folder of generated grain tables, removed when the test program ends.
class GrainDataDir {
public:
    explicit GrainDataDir(bool plane) {
        std::random_device rd;
        dir_ = std::filesystem::temp_directory_path() /
               ("qvgrains-" + std::string(plane ? "plane-" : "example-") + std::to_string(rd()));
        std::filesystem::create_directories(dir_);
        try {
            qvgen::write_grain_tables(dir_.string(), plane);
            status_ = 0;
        } catch (const std::exception&) {
            status_ = 1;
        }
    }
    ~GrainDataDir() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    // The folder with its trailing separator, as the data directory is held.
    std::string dir() const {
        EXPECT_EQ(status_, 0) << "writing the grain tables failed";
        return dir_.string() + "/";
    }

private:
    std::filesystem::path dir_;
    int status_ = -1;
};

inline const std::string& plane_grain_dir() {
    static GrainDataDir d(true);
    static const std::string s = d.dir();
    return s;
}

inline const std::string& example_grain_dir() {
    static GrainDataDir d(false);
    static const std::string s = d.dir();
    return s;
}

// The planes of the generator's test tables: log10 Q = ca log10 a + cl log10 lambda + c0.
struct Plane {
    double ca, cl, c0;
    double q(double lambda, double a) const {
        return std::pow(10.0, ca * std::log10(a) + cl * std::log10(lambda) + c0);
    }
};
inline constexpr Plane kSilAbs{0.3, -0.7, -0.5}, kSilSca{0.8, -1.1, -1.2};
inline constexpr Plane kGraAbs{0.4, -0.6, -0.3}, kGraSca{0.9, -1.2, -1.0};

// A keyed MIXDIF/MIXMOL-style section: key in columns 1-10, value from column 11.
struct MixKeys {
    std::vector<std::pair<std::string, std::string>> keys = {
        {"amin_gr", "8.0e-7"},  {"amax_gr", "2.5e-5"}, {"amin_si", "8.0e-7"},
        {"amax_si", "2.5e-5"},  {"beta1_gr", "-3.5"},  {"beta2_gr", "-3.0"},
        {"beta1_si", "-3.5"},   {"beta2_si", "-3.0"},  {"ab_gr", "1.0e-6"},
        {"ab_si", "1.0e-6"},    {"corgra", "1.0"},     {"corsil", "1.0"},
        {"xx", "7.5e-25"},      {"xh", "1.0"},
    };
    MixKeys& set(const std::string& k, const std::string& v) {
        for (auto& kv : keys)
            if (kv.first == k) {
                kv.second = v;
                return *this;
            }
        keys.emplace_back(k, v);
        return *this;
    }
    MixKeys& drop(const std::string& k) {
        for (auto it = keys.begin(); it != keys.end(); ++it)
            if (it->first == k) {
                keys.erase(it);
                break;
            }
        return *this;
    }
    MixKeys& add(const std::string& k, const std::string& v) {
        keys.emplace_back(k, v);
        return *this;
    }
    std::string text(const std::string& seckey) const {
        std::string s = seckey + "\n% key     value\n";
        for (const auto& [k, v] : keys) {
            std::string line = k;
            line.resize(10, ' ');
            s += line + v + "\n";
        }
        return s;
    }
};

}  // namespace qv::test
