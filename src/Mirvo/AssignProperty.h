#pragma once

#include <utility>

namespace mirvo {

// Stores `value` in `member` and emits `changed` of `object` when it differs; tells whether it did.
template <typename Object, typename T, typename U>
bool assignProperty(Object* object, T& member, U&& value, void (Object::*changed)())
{
    if (member == value)
        return false;
    member = std::forward<U>(value);
    Q_EMIT(object->*changed)();
    return true;
}

} // namespace mirvo
