// One owner for every kind of handle the launcher holds: files, threads,
// processes, snapshots, WinHTTP handles, GDI objects and DCs, GDI+ images,
// paths, brushes and pens. Move-only, so no copy can close a handle twice.
// Pure: each kind brings a small traits record with its own close call.
#pragma once

#include <utility>

// Traits: `Handle` type, `invalid()` (what an empty owner holds), `valid(h)`
// and `close(h)`, called once for each valid handle the owner gives up.
template <typename Traits>
class Owned {
public:
    using Handle = typename Traits::Handle;

    Owned() = default;
    explicit Owned(Handle h) : h_(h) {}
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Owned(Owned&& other) noexcept : h_(other.release()) {}
    Owned& operator=(Owned&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~Owned() { reset(); }

    Handle get() const { return h_; }
    explicit operator bool() const { return Traits::valid(h_); }

    // Gives the handle up without closing it.
    Handle release() { return std::exchange(h_, Traits::invalid()); }
    // Closes what it held (if anything) and takes `h`.
    void reset(Handle h = Traits::invalid()) {
        Handle old = std::exchange(h_, h);
        if (Traits::valid(old)) Traits::close(old);
    }

private:
    Handle h_ = Traits::invalid();
};

// Traits for handle kinds whose empty value is a null pointer.
template <typename T, void (*Close)(T)>
struct NullableTraits {
    using Handle = T;
    static Handle invalid() { return nullptr; }
    static bool valid(Handle h) { return h != nullptr; }
    static void close(Handle h) { Close(h); }
};
