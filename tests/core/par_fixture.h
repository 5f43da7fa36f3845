// A MAIN section with every required key, for tests that read run parameters.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace qv::test {

struct MainKeys {
    std::vector<std::pair<std::string, std::string>> keys = {
        {"istarfo", "0"},   {"ssp_mass4", "1.0"}, {"tgal", "13.0"},   {"extflag", "0"},
        {"gastmp", "0.1"},  {"igastmp", "0"},     {"mmolfraz", "0.5"}, {"mcloud", "1.0e6"},
        {"rcloud", "16.0"}, {"vout", "-1.0"},     {"etastart", "0.004"}, {"pahflag", "0"},
        {"flutflag", "1"},  {"hiiflag", "0"},     {"intrho", "0"},    {"dsug", "0.0089"},
        {"idz", "0"},       {"tgra", "1500."},    {"tsil", "1200."},  {"ndr", "20"},
        {"nlf", "100"},     {"igeo", "2"},        {"rcstar", "1.0"},  {"rcdiff", "1.0"},
        {"gamdiff", "1.5"}, {"rdstar", "3.0"},    {"rddiff", "3.0"},  {"zdstar", "0.3"},
        {"zddiff", "0.2"},  {"emiflag", "0"},     {"flutmc", "0"},
    };

    MainKeys& set(const std::string& k, const std::string& v) {
        for (auto& kv : keys)
            if (kv.first == k) {
                kv.second = v;
                return *this;
            }
        keys.emplace_back(k, v);
        return *this;
    }
    MainKeys& drop(const std::string& k) {
        for (auto it = keys.begin(); it != keys.end(); ++it)
            if (it->first == k) {
                keys.erase(it);
                break;
            }
        return *this;
    }
    // The section: "MAIN" then one fixed-column line per key.
    std::string text() const {
        std::string s = "MAIN\n% key     value\n";
        for (const auto& [k, v] : keys) {
            std::string line = k;
            line.resize(10, ' ');
            line += v;
            s += line + "\n";
        }
        return s;
    }
};

}  // namespace qv::test
