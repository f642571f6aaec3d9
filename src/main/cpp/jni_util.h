// The helper layer every JNI bridge uses: overflow-safe range checks, one
// "end" that is a Java array range or a direct buffer, the chunked transfer
// through the stack that wipes what it used, and the record copied in from a
// Java array that wipes itself on every path out. Internal to the library.
//
// Arrays are only ever touched with region copies here, so nothing is pinned
// or left to release; a call's native memory is one stack chunk whatever the
// length, or, for an engine that needs a message whole, one heap scratch
// that is wiped and freed when the call returns.
#ifndef ZENTHAL_JNI_UTIL_H
#define ZENTHAL_JNI_UTIL_H

#include <jni.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "util/wipe.h"

namespace zenthal {
namespace jni {

// Input and output pass through the stack this many bytes at a time (whole
// blocks of every cipher here).
constexpr jint kChunk = 4096;

// 0 <= off, 0 <= len, off + len <= size, without overflow (size >= 0).
inline bool range_ok(jlong size, jint off, jint len) {
    return off >= 0 && len >= 0 && static_cast<jlong>(off) <= size - len;
}

inline bool has_length(JNIEnv *env, jarray a, jsize n) { return a != nullptr && env->GetArrayLength(a) == n; }

// A non-null array with off..off+len inside it; its length in *size when
// asked for.
inline bool array_range(JNIEnv *env, jbyteArray a, jint off, jint len, jsize *size = nullptr) {
    if (a == nullptr) return false;
    const jsize n = env->GetArrayLength(a);
    if (size != nullptr) *size = n;
    return range_ok(n, off, len);
}

// One end of a transfer: an array range, or an address in a direct buffer.
struct End {
    jbyteArray array = nullptr;
    uint8_t *addr = nullptr;
    jint off = 0;
};

// Exactly one of `array` and `buf` given, with off..off+len inside it. A heap
// buffer (or any other object) has no address and capacity -1, and fails.
inline bool resolve(JNIEnv *env, jbyteArray array, jobject buf, jint off, jint len, End *end) {
    if ((array == nullptr) == (buf == nullptr)) return false;
    end->off = off;
    if (array != nullptr) {
        end->array = array;
        return range_ok(env->GetArrayLength(array), off, len);
    }
    auto *base = static_cast<uint8_t *>(env->GetDirectBufferAddress(buf));
    const jlong capacity = env->GetDirectBufferCapacity(buf);
    if (base == nullptr || capacity < 0 || !range_ok(capacity, off, len)) return false;
    end->addr = base + off;
    return true;
}

// n bytes at offset `at` of an end, into dst; and src into an end.
inline void read_end(JNIEnv *env, const End &e, jint at, jint n, uint8_t *dst) {
    if (e.array != nullptr) {
        env->GetByteArrayRegion(e.array, e.off + at, n, reinterpret_cast<jbyte *>(dst));
    } else {
        std::memcpy(dst, e.addr + at, static_cast<std::size_t>(n));
    }
}

inline void write_end(JNIEnv *env, const End &e, jint at, jint n, const uint8_t *src) {
    if (e.array != nullptr) {
        env->SetByteArrayRegion(e.array, e.off + at, n, reinterpret_cast<const jbyte *>(src));
    } else {
        std::memcpy(e.addr + at, src, static_cast<std::size_t>(n));
    }
}

// Runs step(in, out, n) over len bytes, forward, and writes what it leaves in
// `out` when `out` is given (else step gets null for it). A direct input
// with a direct output or none is worked on in place in one go; anything
// else passes chunk by chunk through the stack, which is wiped after.
template <typename Step>
void transfer(JNIEnv *env, const End &in, const End *out, jint len, Step step) {
    if (in.addr != nullptr && (out == nullptr || out->addr != nullptr)) {
        step(in.addr, out == nullptr ? nullptr : out->addr, static_cast<std::size_t>(len));
        return;
    }
    uint8_t chunk[kChunk];
    jint used = 0;
    for (jint done = 0; done < len;) {
        const jint n = len - done < kChunk ? len - done : kChunk;
        read_end(env, in, done, n, chunk);
        step(chunk, out == nullptr ? nullptr : chunk, static_cast<std::size_t>(n));
        if (out != nullptr) write_end(env, *out, done, n, chunk);
        if (n > used) used = n;
        done += n;
    }
    secure_wipe(chunk, static_cast<std::size_t>(used));
}

template <typename Step>
void transfer(JNIEnv *env, const End &in, const End &out, jint len, Step step) {
    transfer(env, in, &out, len, step);
}

// Reads len bytes of input through step(in, n), writing nothing.
template <typename Step>
void read_through(JNIEnv *env, const End &in, jint len, Step step) {
    transfer(env, in, nullptr, len, [&](const uint8_t *i, uint8_t *, std::size_t n) { step(i, n); });
}

// A record of type T copied from a Java array of exactly its size (bytes, or
// ints for a record of 32-bit words) and back, wiped on the way out.
template <typename T>
struct Local {
    T value{};
    Local() = default;
    Local(const Local &) = delete;
    Local &operator=(const Local &) = delete;
    ~Local() { secure_wipe(&value, sizeof value); }

    static constexpr jsize kBytes = static_cast<jsize>(sizeof(T));
    static constexpr jsize kInts = static_cast<jsize>(sizeof(T) / 4);

    bool load(JNIEnv *env, jbyteArray a) {
        if (!has_length(env, a, kBytes)) return false;
        env->GetByteArrayRegion(a, 0, kBytes, reinterpret_cast<jbyte *>(&value));
        return true;
    }
    bool load(JNIEnv *env, jintArray a) {
        static_assert(sizeof(T) % 4 == 0, "a record of whole ints");
        if (!has_length(env, a, kInts)) return false;
        env->GetIntArrayRegion(a, 0, kInts, reinterpret_cast<jint *>(&value));
        return true;
    }
    void store(JNIEnv *env, jbyteArray a) const {
        env->SetByteArrayRegion(a, 0, kBytes, reinterpret_cast<const jbyte *>(&value));
    }
    void store(JNIEnv *env, jintArray a) const {
        env->SetIntArrayRegion(a, 0, kInts, reinterpret_cast<const jint *>(&value));
    }
};

// N bytes as a record.
template <std::size_t N>
struct Bytes {
    uint8_t b[N];
};

// Heap bytes for one call, for engines that take a message whole; never
// throws (an empty scratch when the allocation fails), wiped and freed on
// every path out.
struct Scratch {
    uint8_t *p = nullptr;
    std::size_t size = 0;
    explicit Scratch(std::size_t n) : p(new (std::nothrow) uint8_t[n == 0 ? 1 : n]), size(n) {}
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;
    ~Scratch() {
        if (p == nullptr) return;
        secure_wipe(p, size);
        delete[] p;
    }
    bool ok() const { return p != nullptr; }
};

}  // namespace jni
}  // namespace zenthal

#endif
