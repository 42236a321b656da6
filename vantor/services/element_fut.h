#pragma once
// How futures of elements cross the host boundary: a value crosses as a vantor_abi::value
// view, and get and wait hand it to a vantor_abi::value_receiver.
#include "vantor/core/fut_abi.h"
#include "vantor/services/element.h"
#include "vantor/services/element_abi.h"

template <>
struct vantor::fut_abi_traits<tarvojson::element> {
    using value = vantor_abi::value;
    using receiver = vantor_abi::value_receiver;

    // Throws internal error 113 for a value of unknown kind.
    static tarvojson::element from_value(const value& v)
    {
        tarvojson::element e;
        tarvojson::element_from_abi_value(e, v);
        return e;
    }
    // A view over `e`, valid while `e` lives unchanged.
    static value to_value(const tarvojson::element& e) { return vantor_abi::value_of(e); }
    static void pass(const receiver& r, const tarvojson::element& e) { tarvojson::pass_element_to_abi(r, e); }
};
