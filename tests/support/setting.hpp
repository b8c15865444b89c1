// A setting of the library changed for one scope. `set` is one of the cores' set_
// functions (the endpoint, the TLS checks, the stall time-out, the clock source...), each
// of which returns the value it replaces; that value comes back when the scope ends.
#pragma once

#include <utility>

namespace qmrt::test {

template <typename Value>
class Setting {
public:
    Setting(Value (*set)(Value), Value value) : set_(set), previous_(set(std::move(value))) {}
    Setting(const Setting &) = delete;
    Setting &operator=(const Setting &) = delete;
    ~Setting() { set_(std::move(previous_)); }

private:
    Value (*set_)(Value);
    Value previous_;
};

}  // namespace qmrt::test
