// Ownership of the library's reference-counted objects (file objects, sounds,
// resamplers): a unique pointer whose deleter calls Release, so a fresh
// object from a factory (reference count 0) goes away with its owner.
#pragma once

#include <memory>

namespace cz {

template <typename T>
struct ReleaseDeleter {
    void operator()(T* object) const {
        if (object) object->Release();
    }
};

template <typename T>
using RefPtr = std::unique_ptr<T, ReleaseDeleter<T>>;

// Takes ownership of an object returned by a factory.
template <typename T>
RefPtr<T> AdoptRef(T* object) {
    return RefPtr<T>(object);
}

}  // namespace cz
