// Test support: the sample schema of data/mib, loaded once.
#pragma once
#include <gtest/gtest.h>

#include <memory>

#include "schema.h"

inline const mis::Schema& sample()
{
    static std::unique_ptr<mis::Schema> s = [] {
        std::string err;
        auto p = mis::Schema::load(QX_SAMPLE_SCHEMA, err);
        if (!p) ADD_FAILURE() << err;
        return p;
    }();
    return *s;
}
