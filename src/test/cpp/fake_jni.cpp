#include "fake_jni.h"

#include <cstdlib>
#include <cstring>
#include <new>

bool g_fail_nothrow_new = false;
int g_nothrow_freed = 0;
int g_nothrow_freed_dirty = 0;
std::size_t g_nothrow_largest = 0;

namespace {

// The nothrow arrays not yet freed, so that delete[] can look at their
// bytes before it frees them. The bridge holds at most one at a time.
struct Live {
    void *p;
    std::size_t size;
};
thread_local Live g_live[8];

void note_freed(void *p) {
    for (Live &l : g_live) {
        if (l.p != p || p == nullptr) continue;
        const auto *b = static_cast<const unsigned char *>(p);
        bool dirty = false;
        for (std::size_t i = 0; i < l.size; ++i) dirty |= b[i] != 0;
        ++g_nothrow_freed;
        g_nothrow_freed_dirty += dirty ? 1 : 0;
        l = Live{nullptr, 0};
        return;
    }
}

}  // namespace

// The bridge allocates its scratch array with the nothrow form; replacing it
// here lets a test make that allocation fail, and see whether the array was
// zeroed before it was freed. All array forms are replaced together so that
// every new[] and delete[] in the process stay a pair.
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept {
    if (g_fail_nothrow_new) return nullptr;
    if (size > g_nothrow_largest) g_nothrow_largest = size;
    void *p = std::malloc(size == 0 ? 1 : size);
    for (Live &l : g_live) {
        if (l.p == nullptr) {
            l = Live{p, size};
            break;
        }
    }
    return p;
}
void *operator new[](std::size_t size) {
    void *p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
void operator delete[](void *p) noexcept {
    note_freed(p);
    std::free(p);
}
void operator delete[](void *p, std::size_t) noexcept {
    note_freed(p);
    std::free(p);
}
void operator delete[](void *p, const std::nothrow_t &) noexcept {
    note_freed(p);
    std::free(p);
}

namespace {

thread_local FakeJvm *g_jvm = nullptr;

FakeArray *arr(jarray a) { return reinterpret_cast<FakeArray *>(a); }

void record(const char *fn, jarray a, jint mode = 0, bool is_copy_null = true, jsize start = 0,
            jsize len = 0) {
    FakeCall c;
    c.fn = fn;
    c.array = a != nullptr ? arr(a)->name : "<null>";
    c.mode = mode;
    c.is_copy_null = is_copy_null;
    c.start = start;
    c.len = len;
    g_jvm->calls.push_back(c);
}

bool region_ok(std::size_t size, jsize start, jsize len) {
    return start >= 0 && len >= 0 && static_cast<std::size_t>(start) + static_cast<std::size_t>(len) <= size;
}

jsize JNICALL get_array_length(JNIEnv *, jarray a) {
    record("GetArrayLength", a);
    FakeArray *f = arr(a);
    return static_cast<jsize>(f->is_int ? f->ints.size() : f->bytes.size());
}

// Where a pinned empty array's elements point: never NULL, as in a VM.
jbyte g_empty_elements[1];

jbyte *pinned_elements(FakeArray *f) { return f->bytes.empty() ? g_empty_elements : f->bytes.data(); }

// Elements are handed out as a separate copy, so a missing release or a
// release with the wrong mode shows in the array's content; or, pinned, as
// the array's own storage, so that anything written through them shows.
jbyte *JNICALL get_byte_elements(JNIEnv *, jbyteArray a, jboolean *is_copy) {
    record("GetByteArrayElements", a, 0, is_copy == nullptr);
    if (g_jvm->takes++ == g_jvm->refuse_take_at) {
        g_jvm->pending_exception = "java/lang/OutOfMemoryError";
        return nullptr;
    }
    FakeArray *f = arr(a);
    if (g_jvm->pin) {
        if (is_copy != nullptr) *is_copy = JNI_FALSE;
        ++g_jvm->outstanding;
        return pinned_elements(f);
    }
    auto *copy = static_cast<jbyte *>(std::malloc(f->bytes.size() + 1));
    if (!f->bytes.empty()) std::memcpy(copy, f->bytes.data(), f->bytes.size());
    if (is_copy != nullptr) *is_copy = JNI_TRUE;
    ++g_jvm->outstanding;
    return copy;
}

jint *JNICALL get_int_elements(JNIEnv *, jintArray a, jboolean *is_copy) {
    record("GetIntArrayElements", a, 0, is_copy == nullptr);
    if (g_jvm->takes++ == g_jvm->refuse_take_at) {
        g_jvm->pending_exception = "java/lang/OutOfMemoryError";
        return nullptr;
    }
    FakeArray *f = arr(a);
    auto *copy = static_cast<jint *>(std::malloc(f->ints.size() * sizeof(jint) + 1));
    if (!f->ints.empty()) std::memcpy(copy, f->ints.data(), f->ints.size() * sizeof(jint));
    if (is_copy != nullptr) *is_copy = JNI_TRUE;
    ++g_jvm->outstanding;
    return copy;
}

void JNICALL release_byte_elements(JNIEnv *, jbyteArray a, jbyte *elems, jint mode) {
    record("ReleaseByteArrayElements", a, mode);
    FakeArray *f = arr(a);
    if (elems == pinned_elements(f)) {
        if (mode != JNI_COMMIT) --g_jvm->outstanding;
        return;
    }
    if (mode != JNI_ABORT && !f->bytes.empty()) std::memcpy(f->bytes.data(), elems, f->bytes.size());
    if (mode != JNI_COMMIT) {
        bool zeroed = true;
        for (std::size_t i = 0; i < f->bytes.size(); ++i) zeroed &= elems[i] == 0;
        g_jvm->calls.back().copy_zeroed = zeroed;
        std::free(elems);
        --g_jvm->outstanding;
    }
}

void JNICALL release_int_elements(JNIEnv *, jintArray a, jint *elems, jint mode) {
    record("ReleaseIntArrayElements", a, mode);
    FakeArray *f = arr(a);
    if (mode != JNI_ABORT && !f->ints.empty()) {
        std::memcpy(f->ints.data(), elems, f->ints.size() * sizeof(jint));
    }
    if (mode != JNI_COMMIT) {
        std::free(elems);
        --g_jvm->outstanding;
    }
}

void JNICALL set_byte_region(JNIEnv *, jbyteArray a, jsize start, jsize len, const jbyte *buf) {
    record("SetByteArrayRegion", a, 0, true, start, len);
    FakeArray *f = arr(a);
    if (!region_ok(f->bytes.size(), start, len)) {
        g_jvm->pending_exception = "java/lang/ArrayIndexOutOfBoundsException";
        return;
    }
    if (len > 0) std::memcpy(f->bytes.data() + start, buf, static_cast<std::size_t>(len));
}

void JNICALL set_int_region(JNIEnv *, jintArray a, jsize start, jsize len, const jint *buf) {
    record("SetIntArrayRegion", a, 0, true, start, len);
    FakeArray *f = arr(a);
    if (!region_ok(f->ints.size(), start, len)) {
        g_jvm->pending_exception = "java/lang/ArrayIndexOutOfBoundsException";
        return;
    }
    if (len > 0) std::memcpy(f->ints.data() + start, buf, static_cast<std::size_t>(len) * sizeof(jint));
}

void JNICALL get_int_region(JNIEnv *, jintArray a, jsize start, jsize len, jint *buf) {
    record("GetIntArrayRegion", a, 0, true, start, len);
    FakeArray *f = arr(a);
    if (!region_ok(f->ints.size(), start, len)) {
        g_jvm->pending_exception = "java/lang/ArrayIndexOutOfBoundsException";
        return;
    }
    if (len > 0) std::memcpy(buf, f->ints.data() + start, static_cast<std::size_t>(len) * sizeof(jint));
}

void JNICALL get_byte_region(JNIEnv *, jbyteArray a, jsize start, jsize len, jbyte *buf) {
    record("GetByteArrayRegion", a, 0, true, start, len);
    FakeArray *f = arr(a);
    if (!region_ok(f->bytes.size(), start, len)) {
        g_jvm->pending_exception = "java/lang/ArrayIndexOutOfBoundsException";
        return;
    }
    if (len > 0) std::memcpy(buf, f->bytes.data() + start, static_cast<std::size_t>(len));
}

void *JNICALL get_direct_address(JNIEnv *, jobject b) {
    record("GetDirectBufferAddress", static_cast<jarray>(b));
    FakeArray *f = arr(static_cast<jarray>(b));
    return f->is_direct ? f->bytes.data() : nullptr;
}

jlong JNICALL get_direct_capacity(JNIEnv *, jobject b) {
    record("GetDirectBufferCapacity", static_cast<jarray>(b));
    FakeArray *f = arr(static_cast<jarray>(b));
    return f->is_direct ? static_cast<jlong>(f->bytes.size()) : -1;
}

}  // namespace

FakeJvm::FakeJvm() {
    // Every other entry stays null: a call the bridge must not make crashes
    // the test instead of passing unnoticed.
    table_.GetArrayLength = get_array_length;
    table_.GetByteArrayElements = get_byte_elements;
    table_.GetIntArrayElements = get_int_elements;
    table_.ReleaseByteArrayElements = release_byte_elements;
    table_.ReleaseIntArrayElements = release_int_elements;
    table_.SetByteArrayRegion = set_byte_region;
    table_.SetIntArrayRegion = set_int_region;
    table_.GetIntArrayRegion = get_int_region;
    table_.GetByteArrayRegion = get_byte_region;
    table_.GetDirectBufferAddress = get_direct_address;
    table_.GetDirectBufferCapacity = get_direct_capacity;
    env_.functions = &table_;
    g_jvm = this;
    g_nothrow_freed = 0;
    g_nothrow_freed_dirty = 0;
    g_nothrow_largest = 0;
}

FakeJvm::~FakeJvm() { g_jvm = nullptr; }

jbyteArray FakeJvm::bytes(const std::string &name, std::vector<uint8_t> content) {
    auto a = std::make_unique<FakeArray>();
    a->name = name;
    a->bytes.assign(content.begin(), content.end());
    arrays_.push_back(std::move(a));
    return reinterpret_cast<jbyteArray>(arrays_.back().get());
}

jbyteArray FakeJvm::bytes(const std::string &name, std::size_t size, uint8_t fill) {
    return bytes(name, std::vector<uint8_t>(size, fill));
}

jintArray FakeJvm::ints(const std::string &name, std::vector<jint> content) {
    auto a = std::make_unique<FakeArray>();
    a->name = name;
    a->is_int = true;
    a->ints = std::move(content);
    arrays_.push_back(std::move(a));
    return reinterpret_cast<jintArray>(arrays_.back().get());
}

jobject FakeJvm::buffer(const std::string &name, std::vector<uint8_t> content, bool direct) {
    jbyteArray b = bytes(name, std::move(content));
    array(b).is_direct = direct;
    return b;
}

std::vector<uint8_t> FakeJvm::content(jbyteArray a) {
    const auto &b = array(a).bytes;
    return std::vector<uint8_t>(b.begin(), b.end());
}

std::vector<std::string> FakeJvm::trace() const {
    std::vector<std::string> out;
    for (const auto &c : calls) out.push_back(c.fn + ":" + c.array);
    return out;
}

std::vector<std::string> FakeJvm::trace(const std::string &fn) const {
    std::vector<std::string> out;
    for (const auto &c : calls) {
        if (c.fn == fn) out.push_back(c.fn + ":" + c.array);
    }
    return out;
}
