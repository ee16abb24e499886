// Outputs of the reading commands: a null pointer means the caller does not
// want that value.
#pragma once

namespace vorn {

template <typename T>
void store_if_wanted(T* destination, T value) {
    if (destination != nullptr) {
        *destination = value;
    }
}

}  // namespace vorn
