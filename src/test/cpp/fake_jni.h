// A JNIEnv of our own for testing the bridge without a JVM: a function table
// that records every call, hands out element copies (as a VM may) or pins the
// array's own storage, and can be told to refuse elements, so the paths a
// real VM cannot be made to take can be driven from a test.
#ifndef ZENTHAL_TEST_FAKE_JNI_H
#define ZENTHAL_TEST_FAKE_JNI_H

#include <jni.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct FakeArray {
    bool is_int = false;
    bool is_direct = false;  // a direct ByteBuffer over `bytes`, not an array
    std::vector<jbyte> bytes;
    std::vector<jint> ints;
    std::string name;
};

struct FakeCall {
    std::string fn;     // JNI function name
    std::string array;  // name of the array it concerned
    jint mode = 0;      // release mode
    bool is_copy_null = true;
    bool copy_zeroed = false;  // a released byte copy held only zeros when freed
    jsize start = 0, len = 0;  // region copies
};

struct FakeJvm {
    FakeJvm();
    ~FakeJvm();
    FakeJvm(const FakeJvm &) = delete;
    FakeJvm &operator=(const FakeJvm &) = delete;

    JNIEnv *env() { return &env_; }

    jbyteArray bytes(const std::string &name, std::vector<uint8_t> content);
    jbyteArray bytes(const std::string &name, std::size_t size, uint8_t fill = 0);
    jintArray ints(const std::string &name, std::vector<jint> content);
    // A direct ByteBuffer whose memory is the content's bytes; with direct
    // false, a heap buffer (no address, capacity -1).
    jobject buffer(const std::string &name, std::vector<uint8_t> content, bool direct = true);

    FakeArray &array(jarray a) { return *reinterpret_cast<FakeArray *>(a); }
    std::vector<uint8_t> content(jbyteArray a);

    // Names of the calls made, in order ("GetByteArrayElements:key", ...).
    std::vector<std::string> trace() const;
    // Calls of one JNI function only, in order, as "fn:array".
    std::vector<std::string> trace(const std::string &fn) const;

    std::vector<FakeCall> calls;
    std::string pending_exception;
    // The n-th element take (counting from 0, byte and int alike) returns NULL
    // with OutOfMemoryError pending; -1 never.
    int refuse_take_at = -1;
    // Byte elements are the array's own storage, reported with isCopy false,
    // instead of a copy.
    bool pin = false;
    int takes = 0;
    int outstanding = 0;  // element pointers handed out and not yet released

  private:
    JNINativeInterface_ table_{};
    JNIEnv env_{};
    std::vector<std::unique_ptr<FakeArray>> arrays_;
};

// While set, `new (std::nothrow) T[n]` returns nullptr in this process.
extern bool g_fail_nothrow_new;

// Arrays from `new (std::nothrow) T[n]` (the bridge's scratch) freed since
// the last FakeJvm was made, and how many of them held a non-zero byte.
extern int g_nothrow_freed;
extern int g_nothrow_freed_dirty;
// The largest `new (std::nothrow) T[n]` requested since the last FakeJvm
// was made, in bytes.
extern std::size_t g_nothrow_largest;

#endif
