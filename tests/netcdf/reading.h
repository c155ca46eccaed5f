// A NetCDF file read back through the NetCDF library, for the tests: its variables whole, their
// text attributes and its dimensions.
#pragma once

#include <gtest/gtest.h>

#include <netcdf.h>

#include <string>
#include <type_traits>
#include <vector>

namespace kelvara::test {

// A file opened for reading, closed at the end.
class Reading {
public:
    explicit Reading(const std::string& path) {
        EXPECT_EQ(nc_open(path.c_str(), NC_NOWRITE, &id_), NC_NOERR) << path;
    }
    ~Reading() { nc_close(id_); }
    Reading(const Reading&) = delete;
    Reading& operator=(const Reading&) = delete;

    int var(const char* name) const {
        int v = -1;
        EXPECT_EQ(nc_inq_varid(id_, name, &v), NC_NOERR) << name;
        return v;
    }
    bool has(const char* name) const {
        int v = -1;
        return nc_inq_varid(id_, name, &v) == NC_NOERR;
    }
    std::size_t dim(const char* name) const {
        int d = -1;
        std::size_t length = 0;
        EXPECT_EQ(nc_inq_dimid(id_, name, &d), NC_NOERR) << name;
        nc_inq_dimlen(id_, d, &length);
        return length;
    }
    template <typename T>
    std::vector<T> all(const char* name, std::size_t count) const {
        std::vector<T> out(count);
        int status = NC_NOERR;
        if constexpr (std::is_same_v<T, float>) status = nc_get_var_float(id_, var(name), out.data());
        if constexpr (std::is_same_v<T, double>) status = nc_get_var_double(id_, var(name), out.data());
        if constexpr (std::is_same_v<T, int>) status = nc_get_var_int(id_, var(name), out.data());
        if constexpr (std::is_same_v<T, signed char>) status = nc_get_var_schar(id_, var(name), out.data());
        EXPECT_EQ(status, NC_NOERR) << name;
        return out;
    }
    std::string text(const char* name, const char* attribute) const {
        const int v = name == nullptr ? NC_GLOBAL : var(name);
        std::size_t length = 0;
        if (nc_inq_attlen(id_, v, attribute, &length) != NC_NOERR) return "(none)";
        std::string out(length, '\0');
        nc_get_att_text(id_, v, attribute, out.data());
        return out;
    }
    int format() const {
        int f = 0;
        nc_inq_format(id_, &f);
        return f;
    }

private:
    int id_ = -1;
};

}  // namespace kelvara::test
