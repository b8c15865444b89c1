// Shared helpers of the JSON tests: token comparison and printing.
#pragma once

#include <ostream>
#include <string>

#include "qmrt/json.h"

inline bool operator==(const json_token &a, const json_token &b) {
    return a.type == b.type && a.start == b.start && a.end == b.end && a.size == b.size;
}

inline void PrintTo(const json_token &t, std::ostream *out) {
    *out << "{type " << t.type << ", start " << t.start << ", end " << t.end << ", size " << t.size
         << "}";
}

namespace qmrt::test {

inline constexpr json_token free_token{JSON_PRIMITIVE, -1, -1, 0};

// Shorthands for expected tokens.
inline json_token prim(int start, int end) {
    return {JSON_PRIMITIVE, start, end, 0};
}
inline json_token str(int start, int end) {
    return {JSON_STRING, start, end, 0};
}
inline json_token obj(int start, int end, int size) {
    return {JSON_OBJECT, start, end, size};
}
inline json_token arr(int start, int end, int size) {
    return {JSON_ARRAY, start, end, size};
}

}  // namespace qmrt::test
