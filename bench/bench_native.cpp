// Side-by-side benchmark of the shipped library against OpenSSL 3's EVP
// implementation, in one process on the same buffers.
//
// Each row of the table is a pair of benchmarks, "<row>/ours" and
// "<row>/openssl". Run with --benchmark_repetitions=N (and, to spread
// interference from other work evenly over both sides,
// --benchmark_enable_random_interleaving=true); the medians of the
// repetitions give the row. --markdown=FILE writes the table there as well.
//
// OpenSSL is given its best case: algorithms fetched once, contexts reused,
// only the per-call key setup that ours also does (one key schedule per call).
#include <benchmark/benchmark.h>
#include <openssl/crypto.h>
#include <openssl/ec.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "hwrand/rdrand.h"
#include "sm3.h"
#include "sm3_kdf.h"
#include "sm4.h"
#include "sm4_cbc.h"
#include "forms/sm4_table.h"
#include "forms/sm4_forms.h"
#include "forms/sm2_forms.h"
#include "sm2.h"
#include "sm2_internal.h"

namespace {

constexpr size_t KiB = 1024;
constexpr size_t MiB = 1024 * 1024;

// Shared inputs: one message of up to 1 MiB, keys, IV, and output room for
// the largest envelope.
struct Buffers {
    std::vector<uint8_t> msg = std::vector<uint8_t>(MiB + 64);
    std::vector<uint8_t> out = std::vector<uint8_t>(MiB + 64);
    std::vector<uint8_t> out2 = std::vector<uint8_t>(MiB + 64);
    uint8_t key[16], mac_key[16], iv[16], z[64];
    // Ciphertexts and envelopes made once for the decrypting rows.
    std::map<size_t, std::vector<uint8_t>> cbc_ct, envelope;

    Buffers() {
        uint64_t s = 0x9E3779B97F4A7C15u;
        auto next = [&s]() {
            s ^= s << 13;
            s ^= s >> 7;
            s ^= s << 17;
            return static_cast<uint8_t>(s >> 24);
        };
        for (auto &b : msg) b = next();
        for (auto &b : key) b = next();
        for (auto &b : mac_key) b = next();
        for (auto &b : iv) b = next();
        for (auto &b : z) b = next();
    }
};

Buffers &buf() {
    static Buffers b;
    return b;
}

[[noreturn]] void die(const char *what) {
    std::fprintf(stderr, "bench_native: %s\n", what);
    std::exit(2);
}

// Algorithms and contexts fetched once.
struct Ossl {
    EVP_MD *sm3 = EVP_MD_fetch(nullptr, "SM3", nullptr);
    EVP_CIPHER *ecb = EVP_CIPHER_fetch(nullptr, "SM4-ECB", nullptr);
    EVP_CIPHER *cbc = EVP_CIPHER_fetch(nullptr, "SM4-CBC", nullptr);
    EVP_KDF *x963 = EVP_KDF_fetch(nullptr, "X963KDF", nullptr);
    EVP_MD_CTX *md = EVP_MD_CTX_new();
    EVP_CIPHER_CTX *c1 = EVP_CIPHER_CTX_new();
    EVP_CIPHER_CTX *c2 = EVP_CIPHER_CTX_new();
    EVP_KDF_CTX *kdf = nullptr;

    Ossl() {
        if (!sm3 || !ecb || !cbc || !x963 || !md || !c1 || !c2) die("OpenSSL lacks SM3/SM4/X963KDF");
        kdf = EVP_KDF_CTX_new(x963);
        char digest[] = "SM3";
        OSSL_PARAM p[] = {OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
                          OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, buf().z, sizeof buf().z),
                          OSSL_PARAM_construct_end()};
        if (!kdf || EVP_KDF_CTX_set_params(kdf, p) != 1) die("X963KDF over SM3 not available");
    }
};

Ossl &ossl() {
    static Ossl o;
    return o;
}

void ossl_sm3(const uint8_t *in, size_t len, uint8_t out[32]) {
    unsigned n = 0;
    EVP_DigestInit_ex2(ossl().md, ossl().sm3, nullptr);
    EVP_DigestUpdate(ossl().md, in, len);
    EVP_DigestFinal_ex(ossl().md, out, &n);
}

// CBC with PKCS#7 padding; returns the output length.
size_t ossl_cbc(bool enc, const uint8_t *key, const uint8_t *iv, const uint8_t *in, size_t len,
                uint8_t *out) {
    EVP_CIPHER_CTX *c = ossl().c1;
    int l1 = 0, l2 = 0;
    EVP_CipherInit_ex2(c, ossl().cbc, key, iv, enc ? 1 : 0, nullptr);
    EVP_CipherUpdate(c, out, &l1, in, static_cast<int>(len));
    if (EVP_CipherFinal_ex(c, out + l1, &l2) != 1) die("OpenSSL CBC failed");
    return static_cast<size_t>(l1 + l2);
}

// The CBC-MAC as plain CBC without padding over the padded message; the
// ciphertext goes to `scratch` (len + 16 bytes), the MAC is its last block.
void ossl_mac(const uint8_t *key, const uint8_t *iv, const uint8_t *in, size_t len, uint8_t *scratch,
              uint8_t mac[16]) {
    EVP_CIPHER_CTX *c = ossl().c2;
    const size_t whole = len / 16 * 16;
    uint8_t last[16] = {0};
    std::memcpy(last, in + whole, len - whole);
    last[len - whole] = 0x80;
    int l1 = 0, l2 = 0;
    EVP_EncryptInit_ex2(c, ossl().cbc, key, iv, nullptr);
    EVP_CIPHER_CTX_set_padding(c, 0);
    EVP_EncryptUpdate(c, scratch, &l1, in, static_cast<int>(whole));
    EVP_EncryptUpdate(c, scratch + l1, &l2, last, 16);
    std::memcpy(mac, scratch + l1 + l2 - 16, 16);
}

// ---- the rows -------------------------------------------------------------

struct Row {
    std::string id;     // benchmark name prefix
    std::string label;  // first column of the table
    size_t bytes;       // bytes processed per iteration
    double target;      // least ratio ours/OpenSSL aimed for; 0: none
};

std::vector<Row> &rows() {
    static std::vector<Row> r;
    return r;
}

// Bytes per iteration of every benchmark that processes bytes, by name.
std::map<std::string, size_t> &bytes_of() {
    static std::map<std::string, size_t> m;
    return m;
}

template <class Fn>
void add_row(const std::string &id, const std::string &label, size_t bytes, double target, Fn ours,
             Fn theirs) {
    rows().push_back({id, label, bytes, target});
    for (int side = 0; side < 2; ++side) {
        Fn f = side == 0 ? ours : theirs;
        const std::string name = id + (side == 0 ? "/ours" : "/openssl");
        bytes_of()[name] = bytes;
        benchmark::RegisterBenchmark(name.c_str(), [f, bytes](benchmark::State &st) {
            for (auto _ : st) f(st);
            st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * bytes));
        })->UseRealTime();
    }
}

using Fn = void (*)(benchmark::State &);

template <size_t N>
void ours_hash(benchmark::State &) {
    uint8_t d[32];
    SM3_hash(d, buf().msg.data(), N);
    benchmark::DoNotOptimize(d);
}
template <size_t N>
void ossl_hash(benchmark::State &) {
    uint8_t d[32];
    ossl_sm3(buf().msg.data(), N, d);
    benchmark::DoNotOptimize(d);
}

void ours_stream(benchmark::State &) {
    SM3_context ctx;
    uint8_t d[32];
    SM3_Init(&ctx);
    for (size_t o = 0; o < MiB; o += 100)
        SM3_Update(&ctx, buf().msg.data() + o, static_cast<uint32_t>(std::min<size_t>(100, MiB - o)));
    SM3_Final(&ctx, d, 32);
    benchmark::DoNotOptimize(d);
}
void ossl_stream(benchmark::State &) {
    unsigned n = 0;
    uint8_t d[32];
    EVP_DigestInit_ex2(ossl().md, ossl().sm3, nullptr);
    for (size_t o = 0; o < MiB; o += 100)
        EVP_DigestUpdate(ossl().md, buf().msg.data() + o, std::min<size_t>(100, MiB - o));
    EVP_DigestFinal_ex(ossl().md, d, &n);
    benchmark::DoNotOptimize(d);
}

void ours_kdf(benchmark::State &) {
    SM3_KDF(buf().out.data(), KiB, buf().z, sizeof buf().z);
    benchmark::ClobberMemory();
}
void ossl_kdf(benchmark::State &) {
    EVP_KDF_derive(ossl().kdf, buf().out2.data(), KiB, nullptr);
    benchmark::ClobberMemory();
}

// One block at a time, each the previous one's output: the latency a
// chained mode sees, plus the call.
void ours_block(benchmark::State &) {
    static SM4_round_keys rk = [] {
        SM4_round_keys r;
        SM4_set_key(buf().key, &r);
        return r;
    }();
    SM4_encrypt(buf().out.data(), buf().out.data(), &rk);
    benchmark::ClobberMemory();
}
void ossl_block(benchmark::State &) {
    static EVP_CIPHER_CTX *c = [] {
        EVP_CIPHER_CTX *x = EVP_CIPHER_CTX_new();
        EVP_EncryptInit_ex2(x, ossl().ecb, buf().key, nullptr, nullptr);
        EVP_CIPHER_CTX_set_padding(x, 0);
        return x;
    }();
    int l = 0;
    EVP_EncryptUpdate(c, buf().out2.data(), &l, buf().out2.data(), 16);
    benchmark::ClobberMemory();
}

template <size_t N>
void ours_cbc_enc(benchmark::State &st) {
    uint32_t cap = static_cast<uint32_t>(buf().out.size());
    if (SM4_process_cbc(1, buf().key, buf().iv, buf().msg.data(), N, buf().out.data(), &cap) != 1)
        st.SkipWithError("SM4_process_cbc failed");
}
template <size_t N>
void ossl_cbc_enc(benchmark::State &) {
    ossl_cbc(true, buf().key, buf().iv, buf().msg.data(), N, buf().out2.data());
}
template <size_t N>
void ours_cbc_dec(benchmark::State &st) {
    const auto &ct = buf().cbc_ct[N];
    uint32_t cap = static_cast<uint32_t>(buf().out.size());
    if (SM4_process_cbc(0, buf().key, buf().iv, ct.data(), static_cast<uint32_t>(ct.size()), buf().out.data(),
                        &cap) != 1)
        st.SkipWithError("SM4_process_cbc failed");
}
template <size_t N>
void ossl_cbc_dec(benchmark::State &) {
    const auto &ct = buf().cbc_ct[N];
    ossl_cbc(false, buf().key, buf().iv, ct.data(), ct.size(), buf().out2.data());
}

void ours_mac(benchmark::State &) {
    uint8_t mac[16];
    SM4_process_mac(buf().mac_key, buf().iv, buf().msg.data(), MiB, mac);
    benchmark::DoNotOptimize(mac);
}
void ossl_mac_1m(benchmark::State &) {
    uint8_t mac[16];
    ossl_mac(buf().mac_key, buf().iv, buf().msg.data(), MiB, buf().out2.data(), mac);
    benchmark::DoNotOptimize(mac);
}

template <size_t N>
void ours_seal(benchmark::State &st) {
    uint32_t cap = static_cast<uint32_t>(buf().out.size());
    if (SM4_process_cbc_and_mac(1, buf().key, buf().mac_key, buf().iv, buf().msg.data(), N, buf().out.data(),
                                &cap) != 1)
        st.SkipWithError("seal failed");
}
template <size_t N>
void ossl_seal(benchmark::State &) {
    uint8_t *const out = buf().out2.data();
    const size_t ct = ossl_cbc(true, buf().key, buf().iv, buf().msg.data(), N, out);
    static std::vector<uint8_t> scratch(MiB + 32);
    ossl_mac(buf().mac_key, buf().iv, buf().msg.data(), N, scratch.data(), out + ct);
}
template <size_t N>
void ours_open(benchmark::State &st) {
    const auto &env = buf().envelope[N];
    uint32_t cap = static_cast<uint32_t>(buf().out.size());
    if (SM4_process_cbc_and_mac(0, buf().key, buf().mac_key, buf().iv, env.data(),
                                static_cast<uint32_t>(env.size()), buf().out.data(), &cap) != 1)
        st.SkipWithError("open failed");
}
template <size_t N>
void ossl_open(benchmark::State &st) {
    const auto &env = buf().envelope[N];
    uint8_t *const out = buf().out2.data();
    const size_t m = ossl_cbc(false, buf().key, buf().iv, env.data(), env.size() - 16, out);
    static std::vector<uint8_t> scratch(MiB + 32);
    uint8_t mac[16];
    ossl_mac(buf().mac_key, buf().iv, out, m, scratch.data(), mac);
    if (CRYPTO_memcmp(mac, env.data() + env.size() - 16, 16) != 0) st.SkipWithError("MAC differs");
}

// ---- agreement check before anything is timed -----------------------------

void check_agreement() {
    Buffers &b = buf();
    uint8_t d1[32], d2[32];
    for (size_t n : {size_t{0}, size_t{64}, KiB, MiB}) {
        SM3_hash(d1, b.msg.data(), static_cast<uint32_t>(n));
        ossl_sm3(b.msg.data(), n, d2);
        if (std::memcmp(d1, d2, 32) != 0) die("SM3 disagrees with OpenSSL");
    }
    SM3_KDF(b.out.data(), KiB, b.z, sizeof b.z);
    if (EVP_KDF_derive(ossl().kdf, b.out2.data(), KiB, nullptr) != 1 ||
        std::memcmp(b.out.data(), b.out2.data(), KiB) != 0)
        die("SM3_KDF disagrees with OpenSSL's X9.63 KDF over SM3");
    for (size_t n : {size_t{64}, KiB, MiB}) {
        uint32_t cap = static_cast<uint32_t>(b.out.size());
        SM4_process_cbc(1, b.key, b.iv, b.msg.data(), static_cast<uint32_t>(n), b.out.data(), &cap);
        const size_t l = ossl_cbc(true, b.key, b.iv, b.msg.data(), n, b.out2.data());
        if (l != cap || std::memcmp(b.out.data(), b.out2.data(), l) != 0)
            die("SM4-CBC disagrees with OpenSSL");
        b.cbc_ct[n].assign(b.out.begin(), b.out.begin() + cap);

        uint8_t m1[16], m2[16];
        SM4_process_mac(b.mac_key, b.iv, b.msg.data(), static_cast<uint32_t>(n), m1);
        ossl_mac(b.mac_key, b.iv, b.msg.data(), n, b.out2.data(), m2);
        if (std::memcmp(m1, m2, 16) != 0) die("SM4 CBC-MAC disagrees with OpenSSL");

        cap = static_cast<uint32_t>(b.out.size());
        SM4_process_cbc_and_mac(1, b.key, b.mac_key, b.iv, b.msg.data(), static_cast<uint32_t>(n),
                                b.out.data(), &cap);
        b.envelope[n].assign(b.out.begin(), b.out.begin() + cap);
    }
}

// ---- the processor clock --------------------------------------------------

// A chain of dependent 64-bit multiplications runs at one per three clocks
// on every x86-64 core this library targets (and aarch64's MUL takes about
// as long), so its rate is the core clock under load, with no performance
// counters. A chain of add-immediate would not do: newer Intel cores fold
// such chains at rename and run several per clock. The time-stamp counter
// is read around the same run, for comparison.
constexpr int kMulLatency = 3;
constexpr int kMulsPerIteration = 1000;
std::vector<double> g_tsc_hz;

void clock_chain(benchmark::State &st) {
    uint64_t x = 0x9E3779B97F4A7C15u;
#if defined(__x86_64__)
    const uint64_t t0 = __builtin_ia32_rdtsc();
#endif
    const auto w0 = std::chrono::steady_clock::now();
    for (auto _ : st) {
        for (int i = 0; i < kMulsPerIteration / 4; ++i) {
#if defined(__x86_64__)
            __asm__ volatile("imul %0, %0\n\timul %0, %0\n\timul %0, %0\n\timul %0, %0" : "+r"(x));
#else
            x *= x;
            x *= x;
            x *= x;
            x *= x;
            benchmark::DoNotOptimize(x);
#endif
        }
    }
#if defined(__x86_64__)
    const double ticks = static_cast<double>(__builtin_ia32_rdtsc() - t0);
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
    if (secs > 0) g_tsc_hz.push_back(ticks / secs);
#else
    (void)w0;
#endif
    benchmark::DoNotOptimize(x);
    st.counters["cycles"] = benchmark::Counter(
        static_cast<double>(st.iterations()) * kMulsPerIteration * kMulLatency, benchmark::Counter::kIsRate);
}

// ---- the latency bound of CBC encryption ----------------------------------

// Chains of single SM4 rounds, each one's output the next one's input, as
// the 32 rounds of one block are: their latencies add up to the bound of
// any chained mode (CBC encryption, the MAC) with this round function.
constexpr int kRoundsPerIteration = 1000;

template <uint32_t (*Round)(uint32_t, uint32_t)>
void round_chain(benchmark::State &st) {
    uint32_t a = 0x01234567, q = 0x89ABCDEF;
    for (auto _ : st) {
        for (int i = 0; i < kRoundsPerIteration; ++i) {
            a = Round(a, q);
            q = zenthal::opaque32(q + 1);
        }
    }
    benchmark::DoNotOptimize(a);
}

// ---- the latency bound of SM3 ----------------------------------------------

// The path through one SM3 round that nothing else can shorten: E feeds GG
// and SS1, both feed TT2, and P0(TT2) is the next round's E. Each step below
// runs exactly that path, with the other operands (F, G, H + W[j],
// (A <<< 12) + Tj) ready early as they are in the rounds; 16 rounds of the
// first kind and 48 of the second make the bound of one block.
template <bool Late>
uint32_t sm3_chain(uint32_t e, int rounds) {
    using zenthal::opaque32;
    using zenthal::rotl32;
    uint32_t f = 1, g = 2, hw = 3, t = 4;
    for (int i = 0; i < rounds; ++i) {
        const uint32_t gg = Late ? (((f ^ g) & e) ^ g) : (e ^ (f ^ g));
        const uint32_t ss1 = rotl32(opaque32(t) + e, 7);
        const uint32_t tt2 = opaque32(gg + opaque32(hw)) + ss1;
        e = tt2 ^ (rotl32(tt2, 9) ^ rotl32(tt2, 17));
        f = opaque32(f + 1);
        g = opaque32(g + 3);
        hw = opaque32(hw + 5);
        t = opaque32(t + 7);
    }
    return e;
}

template <bool Late>
void sm3_round_chain(benchmark::State &st) {
    uint32_t e = 0x01234567;
    for (auto _ : st) e = sm3_chain<Late>(e, kRoundsPerIteration);
    benchmark::DoNotOptimize(e);
}

// SM3_hash of 1 MiB against the bound, in one run of short slices that
// alternate between the hash and the two chains, each side keeping its
// fastest slice. The core's clock follows the load within milliseconds
// (a chain of single operations runs at a higher boost than the full
// rounds), so only slices this close together compare like with like;
// the minimum drops the slices that other work interrupted.
double g_sm3_bound_ratio = 0;

void sm3_against_bound(benchmark::State &st) {
    const Buffers &b = buf();
    uint8_t out[32];
    constexpr int kChain = 100000;
    double hash = 1e9, early = 1e9, late = 1e9;
    uint32_t e = 1;
    auto secs = [](auto f) {
        const auto t0 = std::chrono::steady_clock::now();
        f();
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    };
    for (auto _ : st) {
        hash = std::min(hash, secs([&] { SM3_hash(out, b.msg.data(), MiB); }));
        early = std::min(early, secs([&] { e = sm3_chain<false>(e, kChain); }));
        late = std::min(late, secs([&] { e = sm3_chain<true>(e, kChain); }));
        benchmark::DoNotOptimize(out);
    }
    benchmark::DoNotOptimize(e);
    const double bound = (16 * early + 48 * late) / kChain;  // seconds per block
    g_sm3_bound_ratio = hash / (MiB / 64) / bound;
    st.counters["ratio"] = g_sm3_bound_ratio;
}

// ---- reporting ------------------------------------------------------------

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

// Prints to the console as usual and keeps every repetition's rate.
class TableReporter : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, std::vector<double>> rate;  // bytes per second, per benchmark
    std::map<std::string, std::string> error;
    std::vector<double> clock_hz;
    std::map<std::string, std::vector<double>> round_secs;  // seconds per round

    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &r : runs) {
            if (r.run_type != Run::RT_Iteration) continue;
            const std::string name = r.run_name.function_name;
            if (r.error_occurred) {
                error[name] = r.error_message;
                continue;
            }
            const double secs = r.real_accumulated_time;
            if (secs <= 0 || r.iterations == 0) continue;
            if (name == "clock") {
                clock_hz.push_back(static_cast<double>(r.iterations) * kMulsPerIteration * kMulLatency /
                                   secs);
                continue;
            }
            if (name.rfind("sm4_round_", 0) == 0 || name.rfind("sm3_round_", 0) == 0) {
                round_secs[name].push_back(secs / (static_cast<double>(r.iterations) * kRoundsPerIteration));
                continue;
            }
            auto b = bytes_of().find(name);
            if (b != bytes_of().end())
                rate[name].push_back(static_cast<double>(r.iterations) * b->second / secs);
        }
    }
};

std::string fmt(const char *f, double v) {
    char s[64];
    std::snprintf(s, sizeof s, f, v);
    return s;
}

std::string table(const TableReporter &rep) {
    std::ostringstream o;
    o << "Baseline: " << OpenSSL_version(OPENSSL_VERSION)
      << ", through its EVP interface. MB/s = 10^6 bytes per second; each figure is the median "
         "of the repetitions.\n\n";
    o << "| Operation | ours MB/s | OpenSSL MB/s | ours / OpenSSL | target | met |\n"
      << "|---|---:|---:|---:|---:|---|\n";
    for (const Row &row : rows()) {
        auto get = [&](const char *side) {
            auto it = rep.rate.find(row.id + side);
            return it == rep.rate.end() ? 0.0 : median(it->second) / 1e6;
        };
        const double ours = get("/ours"), theirs = get("/openssl");
        if (ours <= 0 || theirs <= 0) {
            o << "| " << row.label << " | not run | not run | — | — | |\n";
            continue;
        }
        const double ratio = ours / theirs;
        o << "| " << row.label << " | " << fmt("%.1f", ours) << " | " << fmt("%.1f", theirs) << " | "
          << fmt("%.2f", ratio) << " | " << (row.target > 0 ? fmt("%.1f", row.target) : std::string("—"))
          << " | " << (row.target > 0 ? (ratio >= row.target ? "yes" : "**no**") : "") << " |\n";
    }
    std::string rdrand = "not run";
    auto e = rep.error.find("rdrand_1m");
    auto r = rep.rate.find("rdrand_1m");
    if (e != rep.error.end())
        rdrand = e->second;
    else if (r != rep.rate.end())
        rdrand = fmt("%.1f", median(r->second) / 1e6);
    o << "| `rdrand_get_bytes` 1 MiB (alone) | " << rdrand << " | — | — | — | |\n";

    // The envelope in one pass against one chain of our own: sealing runs
    // the CBC and MAC chains side by side and should cost about CBC
    // encryption alone; opening about the MAC chain alone.
    struct Own {
        const char *label, *ours, *base_label, *base;
        double target;
    };
    const Own own[] = {
        {"seal 1 MiB", "seal_1m/ours", "`SM4_process_cbc` encrypt 1 MiB", "cbc_enc_1m/ours", 0.9},
        {"open 1 MiB", "open_1m/ours", "`SM4_process_mac` 1 MiB", "mac_1m/ours", 0},
    };
    o << "\nThe envelope in one pass against a single chain of ours, same runs:\n\n"
      << "| Operation | MB/s | baseline (ours) | baseline MB/s | ratio | target | met |\n"
      << "|---|---:|---|---:|---:|---:|---|\n";
    for (const Own &row : own) {
        auto a = rep.rate.find(row.ours), b = rep.rate.find(row.base);
        if (a == rep.rate.end() || b == rep.rate.end()) {
            o << "| " << row.label << " | not run | " << row.base_label << " | not run | — | — | |\n";
            continue;
        }
        const double x = median(a->second) / 1e6, y = median(b->second) / 1e6;
        o << "| " << row.label << " | " << fmt("%.1f", x) << " | " << row.base_label << " | "
          << fmt("%.1f", y) << " | " << fmt("%.2f", x / y) << " | "
          << (row.target > 0 ? fmt("%.1f", row.target) : std::string("—")) << " | "
          << (row.target > 0 ? (x / y >= row.target ? "yes" : "**no**") : "") << " |\n";
    }

    const double hz = median(rep.clock_hz);
    if (hz > 0) {
        o << "\nCore clock under load (a chain of dependent 64-bit multiplications, " << kMulLatency
          << " cycles each): " << fmt("%.2f", hz / 1e9) << " GHz";
        if (!g_tsc_hz.empty()) o << "; time-stamp counter: " << fmt("%.2f", median(g_tsc_hz) / 1e9) << " GHz";
        o << ". Every cycle figure below is in core clocks at that rate.\n";
        auto s0 = rep.round_secs.find("sm3_round_early");
        auto s1 = rep.round_secs.find("sm3_round_late");
        auto it = rep.rate.find("hash_1m/ours");
        if (s0 != rep.round_secs.end() && s1 != rep.round_secs.end() && it != rep.rate.end()) {
            const double c0 = median(s0->second) * hz, c1 = median(s1->second) * hz;
            const double bound = 16 * c0 + 48 * c1;
            const double achieved = hz / (median(it->second) / 64);
            o << "\nSM3 is bound by the latency of its 64 dependent rounds per block: the path "
                 "E -> SS1 -> TT2 -> P0 -> E, measured on this core as chains of that path "
                 "alone, takes "
              << fmt("%.2f", c0) << " cycles in rounds 0-15 (XOR Boolean functions) and " << fmt("%.2f", c1)
              << " in rounds 16-63, so " << fmt("%.0f", bound) << " cycles per block, "
              << fmt("%.1f", 64 * hz / bound / 1e6) << " MB/s at this clock.\n\n"
              << "| Operation | cycles per block | bound | ratio | target | met |\n"
              << "|---|---:|---:|---:|---:|---|\n"
              << "| `SM3_hash` 1 MiB (the table's median run) | " << fmt("%.0f", achieved) << " | "
              << fmt("%.0f", bound) << " | " << fmt("%.2f", achieved / bound) << " | — | |\n";
            if (g_sm3_bound_ratio > 0) {
                const double r = g_sm3_bound_ratio;
                o << "| `SM3_hash` 1 MiB, fastest of slices interleaved with the chains | "
                  << fmt("%.0f", r * bound) << " | " << fmt("%.0f", bound) << " | " << fmt("%.2f", r)
                  << " | ≤ 1.10 | " << (r <= 1.10 ? "yes" : "**no**") << " |\n";
            }
            o << "\nThe first row takes the clock of the multiplication chain for the hash as well; the "
                 "second compares the hash with the chains in slices a few milliseconds apart, at "
                 "the same clock, and is the one judged.\n\n";
            auto os = rep.rate.find("hash_1m/openssl");
            if (os != rep.rate.end() && !os->second.empty()) {
                const auto mm = std::minmax_element(os->second.begin(), os->second.end());
                o << "OpenSSL's SM3 at 1 MiB ranged from " << fmt("%.1f", *mm.first / 1e6) << " to "
                  << fmt("%.1f", *mm.second / 1e6) << " MB/s over the repetitions of this run.";
            }
            o << "\n";
        }
        auto t = rep.round_secs.find("sm4_round_table");
        auto b = rep.round_secs.find("sm4_round_bytewise");
        if (t != rep.round_secs.end() && b != rep.round_secs.end()) {
            const double ct = median(t->second) * hz, cb = median(b->second) * hz;
            const double bound = 24 * ct + 8 * cb;
            o << "\nSM4-CBC encryption, the CBC-MAC and the envelope are serial chains, bound by "
                 "the latency of the 32 dependent rounds of each block. Measured on this core as "
                 "chains of single rounds, a table round takes "
              << fmt("%.1f", ct) << " cycles and a byte-wise one " << fmt("%.1f", cb)
              << ", so the table form's bound is " << fmt("%.0f", bound)
              << " cycles per block. CBC encryption of 1 MiB in each form:\n\n"
              << "| Form | cycles per block | cycles per round | table bound / form |\n"
              << "|---|---:|---:|---:|\n";
            for (const char *const *name = zenthal::SM4_FORM_NAMES; *name != nullptr; ++name) {
                auto it = rep.rate.find(std::string("cbc_enc_1m@") + *name + "/ours");
                if (it == rep.rate.end()) continue;
                const double cycles = hz / (median(it->second) / 16);
                o << "| " << *name << " | " << fmt("%.0f", cycles) << " | " << fmt("%.1f", cycles / 32)
                  << " | " << fmt("%.2f", bound / cycles) << " |\n";
            }
        }
    }
    return o.str();
}

// The 1 MiB SM4 rows again in every SM4 form this processor offers, the
// chosen one included, through the library's internal entry per form. The
// constant-time forms have the targets; the table form is the reference.
void add_form_rows() {
    using F = std::function<void(benchmark::State &)>;
    for (const char *const *name = zenthal::SM4_FORM_NAMES; *name != nullptr; ++name) {
        const zenthal::Sm4Form *f = zenthal::sm4_form_named(*name);
        if (f == nullptr) continue;
        const bool ct = std::strcmp(*name, "table") != 0;
        const std::string at = std::string("@") + *name, in = std::string(", form ") + *name;
        add_row<F>(
            "cbc_enc_1m" + at, "`SM4_process_cbc` encrypt 1 MiB" + in, MiB, ct ? 1.15 : 0,
            [f](benchmark::State &st) {
                uint32_t cap = static_cast<uint32_t>(buf().out.size());
                if (zenthal::sm4_cbc(*f, 1, buf().key, buf().iv, buf().msg.data(), MiB, buf().out.data(),
                                     &cap) != 1)
                    st.SkipWithError("encryption failed");
            },
            F(ossl_cbc_enc<MiB>));
        add_row<F>(
            "cbc_dec_1m" + at, "`SM4_process_cbc` decrypt 1 MiB" + in, MiB, ct ? 10 : 0,
            [f](benchmark::State &st) {
                const auto &ct_ = buf().cbc_ct[MiB];
                uint32_t cap = static_cast<uint32_t>(buf().out.size());
                if (zenthal::sm4_cbc(*f, 0, buf().key, buf().iv, ct_.data(),
                                     static_cast<uint32_t>(ct_.size()), buf().out.data(), &cap) != 1)
                    st.SkipWithError("decryption failed");
            },
            F(ossl_cbc_dec<MiB>));
        add_row<F>(
            "seal_1m" + at, "seal 1 MiB" + in, MiB, ct ? 2.0 : 0,
            [f](benchmark::State &st) {
                uint32_t cap = static_cast<uint32_t>(buf().out.size());
                if (zenthal::sm4_cbc_and_mac(*f, 1, buf().key, buf().mac_key, buf().iv, buf().msg.data(), MiB,
                                             buf().out.data(), &cap) != 1)
                    st.SkipWithError("seal failed");
            },
            F(ossl_seal<MiB>));
        add_row<F>(
            "open_1m" + at, "open 1 MiB" + in, MiB, ct ? 2.0 : 0,
            [f](benchmark::State &st) {
                const auto &env = buf().envelope[MiB];
                uint32_t cap = static_cast<uint32_t>(buf().out.size());
                if (zenthal::sm4_cbc_and_mac(*f, 0, buf().key, buf().mac_key, buf().iv, env.data(),
                                             static_cast<uint32_t>(env.size()), buf().out.data(), &cap) != 1)
                    st.SkipWithError("open failed");
            },
            F(ossl_open<MiB>));
    }
}

// ---- SM2 signatures -------------------------------------------------------

// One key, digest and entropy for every SM2 benchmark; OpenSSL's SM2 and
// P-256 keys generated by OpenSSL. OpenSSL signs and verifies a 32-byte
// digest through EVP_PKEY_sign/verify, the work our *_digest functions do.
struct Sm2Bench {
    uint8_t priv[32], pub[65], inverse[32], e[32], entropy[32], sig[64], random[64];
    uint8_t eph[32], eph_pub[65], peer[32], peer_pub[65], peer_eph[32], peer_eph_pub[65];
    EVP_PKEY *sm2 = nullptr, *p256 = nullptr, *p256_peer = nullptr;
    std::vector<uint8_t> sm2_sig, p256_sig;
    // Messages, our ciphertexts of them, OpenSSL's (of its own key), buffers.
    std::vector<uint8_t> msg, ours_32, ours_1k, theirs_32, theirs_1k, cipher, plain;
};

EVP_PKEY *ossl_keygen(const char *alg, const char *group) {
    EVP_PKEY_CTX *c = EVP_PKEY_CTX_new_from_name(nullptr, alg, nullptr);
    EVP_PKEY *k = nullptr;
    EVP_PKEY_keygen_init(c);
    if (group != nullptr) {
        OSSL_PARAM p[] = {
            OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, const_cast<char *>(group), 0),
            OSSL_PARAM_construct_end()};
        EVP_PKEY_CTX_set_params(c, p);
    }
    EVP_PKEY_generate(c, &k);
    EVP_PKEY_CTX_free(c);
    return k;
}

std::vector<uint8_t> ossl_sign(EVP_PKEY *k, const uint8_t e[32]) {
    EVP_PKEY_CTX *c = EVP_PKEY_CTX_new(k, nullptr);
    std::vector<uint8_t> sig(128);
    size_t len = sig.size();
    if (EVP_PKEY_sign_init(c) != 1 || EVP_PKEY_sign(c, sig.data(), &len, e, 32) != 1)
        die("OpenSSL sign failed");
    EVP_PKEY_CTX_free(c);
    sig.resize(len);
    return sig;
}

void ossl_verify(EVP_PKEY *k, const std::vector<uint8_t> &sig, const uint8_t e[32]) {
    EVP_PKEY_CTX *c = EVP_PKEY_CTX_new(k, nullptr);
    if (EVP_PKEY_verify_init(c) != 1 || EVP_PKEY_verify(c, sig.data(), sig.size(), e, 32) != 1)
        die("OpenSSL verify failed");
    EVP_PKEY_CTX_free(c);
}

Sm2Bench &sm2b();

// OpenSSL's SM2 encryption of `len` bytes, or decryption of its ciphertext
// of them, under its own key.
size_t ossl_crypt(EVP_PKEY *k, bool encrypt, size_t len);

// One P-256 ECDH: a secret scalar times the peer's point, x of the product.
// The context, its peer and the peer's check are set up once, as `openssl
// speed` does, so only the multiplication and its encoding are timed.
size_t ossl_ecdh() {
    static EVP_PKEY_CTX *c = [] {
        EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new(sm2b().p256, nullptr);
        if (EVP_PKEY_derive_init(ctx) != 1 || EVP_PKEY_derive_set_peer(ctx, sm2b().p256_peer) != 1)
            die("OpenSSL ECDH failed");
        return ctx;
    }();
    uint8_t secret[32];
    size_t n = sizeof secret;
    if (EVP_PKEY_derive(c, secret, &n) != 1) die("OpenSSL ECDH failed");
    return n;
}

Sm2Bench &sm2b() {
    static Sm2Bench b = [] {
        Sm2Bench x;
        for (int i = 0; i < 64; ++i) x.random[i] = static_cast<uint8_t>(i * 37 + 11);
        for (int i = 0; i < 32; ++i) {
            x.e[i] = static_cast<uint8_t>(i * 91 + 5);
            x.entropy[i] = static_cast<uint8_t>(i * 13 + 7);
        }
        if (SM2_generate_key(x.random, x.priv, x.pub) != SM2_SUCCESS ||
            SM2_sign_inverse(x.priv, x.inverse) != SM2_SUCCESS ||
            SM2_sign_digest(x.priv, x.inverse, x.e, x.entropy, 32, x.sig) != SM2_SUCCESS ||
            SM2_verify_digest(x.pub, x.e, x.sig) != SM2_SUCCESS)
            die("SM2 does not sign and verify");
        x.sm2 = ossl_keygen("SM2", nullptr);
        x.p256 = ossl_keygen("EC", "P-256");
        if (x.sm2 == nullptr || x.p256 == nullptr) die("OpenSSL generated no key");
        x.sm2_sig = ossl_sign(x.sm2, x.e);
        x.p256_sig = ossl_sign(x.p256, x.e);
        x.p256_peer = ossl_keygen("EC", "P-256");
        uint8_t r[64];
        for (int i = 0; i < 64; ++i) r[i] = static_cast<uint8_t>(i * 29 + 1);
        SM2_generate_key(r, x.eph, x.eph_pub);
        r[0] ^= 1;
        SM2_generate_key(r, x.peer, x.peer_pub);
        r[1] ^= 1;
        SM2_generate_key(r, x.peer_eph, x.peer_eph_pub);
        x.msg.resize(1024);
        for (size_t i = 0; i < x.msg.size(); ++i) x.msg[i] = static_cast<uint8_t>(i * 7);
        x.cipher.resize(1024 + SM2_CIPHERTEXT_OVERHEAD);
        x.plain.resize(1024);
        for (size_t len : {size_t{32}, size_t{1024}}) {
            std::vector<uint8_t> &c = len == 32 ? x.ours_32 : x.ours_1k;
            c.resize(len + SM2_CIPHERTEXT_OVERHEAD);
            size_t n = c.size();
            if (SM2_encrypt(x.pub, x.msg.data(), len, x.entropy, 32, c.data(), &n) != SM2_SUCCESS)
                die("SM2 does not encrypt");
            EVP_PKEY_CTX *e = EVP_PKEY_CTX_new(x.sm2, nullptr);
            std::vector<uint8_t> &t = len == 32 ? x.theirs_32 : x.theirs_1k;
            t.resize(len + 200);
            n = t.size();
            if (EVP_PKEY_encrypt_init(e) != 1 || EVP_PKEY_encrypt(e, t.data(), &n, x.msg.data(), len) != 1)
                die("OpenSSL does not encrypt");
            t.resize(n);
            EVP_PKEY_CTX_free(e);
        }
        return x;
    }();
    return b;
}

size_t ossl_crypt(EVP_PKEY *k, bool encrypt, size_t len) {
    Sm2Bench &b = sm2b();
    EVP_PKEY_CTX *c = EVP_PKEY_CTX_new(k, nullptr);
    static std::vector<uint8_t> out(4096);
    size_t n = out.size();
    const std::vector<uint8_t> &in = len == 32 ? b.theirs_32 : b.theirs_1k;
    const bool ok =
        encrypt
            ? EVP_PKEY_encrypt_init(c) == 1 && EVP_PKEY_encrypt(c, out.data(), &n, b.msg.data(), len) == 1
            : EVP_PKEY_decrypt_init(c) == 1 && EVP_PKEY_decrypt(c, out.data(), &n, in.data(), in.size()) == 1;
    if (!ok) die("OpenSSL SM2 encryption or decryption failed");
    EVP_PKEY_CTX_free(c);
    return n;
}

struct Sm2Row {
    std::string id, label;
    double target;      // least ratio ours / P-256 aimed for; 0: none
    double target_sm2;  // least ratio ours / OpenSSL's SM2 aimed for; 0: none
};

std::vector<Sm2Row> &sm2_rows() {
    static std::vector<Sm2Row> r;
    return r;
}

// Registers one operation's three sides, each counted in operations.
void add_sm2_row(const std::string &id, const std::string &label, double target, std::function<void()> ours,
                 std::function<void()> sm2, std::function<void()> p256) {
    sm2_rows().push_back({id, label, target, 0});
    const std::pair<const char *, std::function<void()>> sides[] = {
        {"/ours", ours}, {"/openssl-sm2", sm2}, {"/openssl-p256", p256}};
    for (const auto &side : sides) {
        if (!side.second) continue;
        const std::string name = id + side.first;
        bytes_of()[name] = 1;
        auto f = side.second;
        benchmark::RegisterBenchmark(name.c_str(), [f](benchmark::State &st) {
            for (auto _ : st) f();
        })->UseRealTime();
    }
}

void add_sm2_rows() {
    // In every SM2 form this processor offers, the chosen one first.
    const zenthal::Sm2Form &chosen = zenthal::sm2_form();
    std::vector<const zenthal::Sm2Form *> forms{&chosen};
    for (const char *const *name = zenthal::SM2_FORM_NAMES; *name != nullptr; ++name) {
        const zenthal::Sm2Form *f = zenthal::sm2_form_named(*name);
        if (f != nullptr && f != &chosen) forms.push_back(f);
    }
    for (const zenthal::Sm2Form *f : forms) {
        const std::string at = std::string("@") + f->name, in = std::string(", form ") + f->name;
        const bool first = f == &chosen;
        add_sm2_row(
            "sm2_sign" + at, "sign a digest" + in, first ? 1.0 : 0,
            [f] {
                Sm2Bench &b = sm2b();
                if (zenthal::sm2_sign_digest(*f, b.priv, b.inverse, b.e, b.entropy, 32, b.sig) != SM2_SUCCESS)
                    die("sign failed");
            },
            first ? std::function<void()>([] { benchmark::DoNotOptimize(ossl_sign(sm2b().sm2, sm2b().e)); })
                  : nullptr,
            first ? std::function<void()>([] { benchmark::DoNotOptimize(ossl_sign(sm2b().p256, sm2b().e)); })
                  : nullptr);
        add_sm2_row(
            "sm2_verify" + at, "verify a digest" + in, first ? 1.0 : 0,
            [f] {
                Sm2Bench &b = sm2b();
                if (zenthal::sm2_verify_digest(*f, b.pub, b.e, b.sig) != SM2_SUCCESS) die("verify failed");
            },
            first ? std::function<void()>([] { ossl_verify(sm2b().sm2, sm2b().sm2_sig, sm2b().e); })
                  : nullptr,
            first ? std::function<void()>([] { ossl_verify(sm2b().p256, sm2b().p256_sig, sm2b().e); })
                  : nullptr);
        add_sm2_row(
            "sm2_keygen" + at, "key generation" + in, 0,
            [f] {
                Sm2Bench &b = sm2b();
                uint8_t d[32], p[65];
                zenthal::sm2_generate_key(*f, b.random, d, p);
                benchmark::DoNotOptimize(p);
            },
            first ? std::function<void()>([] { EVP_PKEY_free(ossl_keygen("SM2", nullptr)); }) : nullptr,
            first ? std::function<void()>([] { EVP_PKEY_free(ossl_keygen("EC", "P-256")); }) : nullptr);
        for (size_t len : {size_t{32}, size_t{1024}}) {
            const std::string size = len == 32 ? "32 B" : "1 KiB", tag = len == 32 ? "32" : "1k";
            add_sm2_row(
                "sm2_encrypt_" + tag + at, "encrypt " + size + in, 0,
                [f, len] {
                    Sm2Bench &b = sm2b();
                    zenthal::sm2_use_form(*f);
                    size_t n = b.cipher.size();
                    if (SM2_encrypt(b.pub, b.msg.data(), len, b.entropy, 32, b.cipher.data(), &n) !=
                        SM2_SUCCESS)
                        die("encryption failed");
                },
                first ? std::function<void()>(
                            [len] { benchmark::DoNotOptimize(ossl_crypt(sm2b().sm2, true, len)); })
                      : nullptr,
                nullptr);
            if (first) sm2_rows().back().target_sm2 = 5;
            add_sm2_row(
                "sm2_decrypt_" + tag + at, "decrypt " + size + in, first ? 0.8 : 0,
                [f, len] {
                    Sm2Bench &b = sm2b();
                    zenthal::sm2_use_form(*f);
                    const std::vector<uint8_t> &c = len == 32 ? b.ours_32 : b.ours_1k;
                    size_t n = b.plain.size();
                    if (SM2_decrypt(b.priv, c.data(), c.size(), b.plain.data(), &n) != SM2_SUCCESS)
                        die("decryption failed");
                },
                first ? std::function<void()>(
                            [len] { benchmark::DoNotOptimize(ossl_crypt(sm2b().sm2, false, len)); })
                      : nullptr,
                first ? std::function<void()>([] { benchmark::DoNotOptimize(ossl_ecdh()); }) : nullptr);
            if (first) sm2_rows().back().target_sm2 = 5;
        }
        add_sm2_row(
            "sm2_exchange" + at, "key exchange, one side, 16-byte key and both confirmations" + in, 0,
            [f] {
                Sm2Bench &b = sm2b();
                zenthal::sm2_use_form(*f);
                uint8_t key[16], cb[32], ca[32];
                if (SM2_key_exchange(0, b.priv, b.pub, b.eph, b.eph_pub, b.e, b.peer_pub, b.peer_eph_pub, b.e,
                                     key, sizeof key, cb, ca) != SM2_SUCCESS)
                    die("exchange failed");
            },
            nullptr, first ? std::function<void()>([] { benchmark::DoNotOptimize(ossl_ecdh()); }) : nullptr);
    }
    zenthal::sm2_use_form(chosen);
}

std::string sm2_table(const TableReporter &rep, double hz) {
    std::ostringstream o;
    o << "\nSM2 on the curve sm2p256v1, operations per second (one thread; the median of the "
         "repetitions), beside OpenSSL's SM2 and its ECDSA on P-256, signing and verifying a 32-byte "
         "digest through EVP_PKEY_sign/verify, encrypting and decrypting through EVP_PKEY_encrypt/decrypt; "
         "the P-256 column of decryption and of the key exchange is OpenSSL's ECDH on P-256 "
         "(EVP_PKEY_derive), "
         "one multiplication of a variable point by a secret as they have. Cycles are per operation, at the "
         "core clock measured above. Signing uses the key's cached (1 + d)^-1, as the Java side does.\n\n"
      << "| Operation | ours op/s | cycles | OpenSSL SM2 op/s | ours / SM2 | OpenSSL P-256 op/s | "
         "ours / P-256 | target | met |\n"
      << "|---|---:|---:|---:|---:|---:|---:|---:|---|\n";
    for (const Sm2Row &row : sm2_rows()) {
        auto get = [&](const char *side) {
            auto it = rep.rate.find(row.id + side);
            return it == rep.rate.end() ? 0.0 : median(it->second);
        };
        const double ours = get("/ours"), sm2 = get("/openssl-sm2"), p256 = get("/openssl-p256");
        auto num = [](double v) { return v > 0 ? fmt("%.0f", v) : std::string("—"); };
        auto ratio = [&](double v) { return v > 0 && ours > 0 ? fmt("%.2f", ours / v) : std::string("—"); };
        o << "| " << row.label << " | " << num(ours) << " | "
          << (hz > 0 && ours > 0 ? fmt("%.0f", hz / ours) : std::string("—")) << " | " << num(sm2) << " | "
          << ratio(sm2) << " | " << num(p256) << " | " << ratio(p256) << " | "
          << (row.target > 0 ? fmt("%.1f", row.target) + " × P-256" : std::string(""))
          << (row.target > 0 && row.target_sm2 > 0 ? ", " : "")
          << (row.target_sm2 > 0 ? fmt("%.0f", row.target_sm2) + " × SM2" : std::string(""))
          << (row.target > 0 || row.target_sm2 > 0 ? "" : "—") << " | ";
        const bool judged = (row.target > 0 && p256 > 0) || (row.target_sm2 > 0 && sm2 > 0);
        const bool met = (row.target == 0 || (p256 > 0 && ours / p256 >= row.target)) &&
                         (row.target_sm2 == 0 || (sm2 > 0 && ours / sm2 >= row.target_sm2));
        o << (judged ? (met ? "yes" : "**no**") : "") << " |\n";
    }
    return o.str();
}

}  // namespace

int main(int argc, char **argv) {
    std::string markdown;
    std::vector<char *> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--markdown=", 11) == 0)
            markdown = argv[i] + 11;
        else
            args.push_back(argv[i]);
    }
    int n = static_cast<int>(args.size());

    check_agreement();

    add_row<Fn>("hash_64", "`SM3_hash` 64 B", 64, 1.0, ours_hash<64>, ossl_hash<64>);
    add_row<Fn>("hash_1k", "`SM3_hash` 1 KiB", KiB, 0, ours_hash<KiB>, ossl_hash<KiB>);
    // No target against OpenSSL here: its SM3 swings between runs on one
    // machine, so SM3 at length is judged against its latency bound instead.
    add_row<Fn>("hash_1m", "`SM3_hash` 1 MiB", MiB, 0, ours_hash<MiB>, ossl_hash<MiB>);
    add_row<Fn>("stream_100", "`SM3_Update` 1 MiB in 100-byte pieces", MiB, 0, ours_stream, ossl_stream);
    add_row<Fn>("kdf_1k", "`SM3_KDF` 1 KiB from a 64-byte Z", KiB, 0, ours_kdf, ossl_kdf);
    add_row<Fn>("block", "`SM4_encrypt` one block (chained)", 16, 1.0, ours_block, ossl_block);
    add_row<Fn>("cbc_enc_1k", "`SM4_process_cbc` encrypt 1 KiB", KiB, 0, ours_cbc_enc<KiB>,
                ossl_cbc_enc<KiB>);
    add_row<Fn>("cbc_enc_1m", "`SM4_process_cbc` encrypt 1 MiB", MiB, 1.15, ours_cbc_enc<MiB>,
                ossl_cbc_enc<MiB>);
    add_row<Fn>("cbc_dec_1k", "`SM4_process_cbc` decrypt 1 KiB", KiB, 0, ours_cbc_dec<KiB>,
                ossl_cbc_dec<KiB>);
    add_row<Fn>("cbc_dec_1m", "`SM4_process_cbc` decrypt 1 MiB", MiB, 10, ours_cbc_dec<MiB>,
                ossl_cbc_dec<MiB>);
    add_row<Fn>("mac_1m", "`SM4_process_mac` 1 MiB", MiB, 0, ours_mac, ossl_mac_1m);
    add_row<Fn>("seal_64", "seal 64 B", 64, 0, ours_seal<64>, ossl_seal<64>);
    add_row<Fn>("seal_1k", "seal (`SM4_process_cbc_and_mac`) 1 KiB", KiB, 0, ours_seal<KiB>, ossl_seal<KiB>);
    add_row<Fn>("seal_1m", "seal 1 MiB", MiB, 2.0, ours_seal<MiB>, ossl_seal<MiB>);
    add_row<Fn>("open_64", "open 64 B", 64, 0, ours_open<64>, ossl_open<64>);
    add_row<Fn>("open_1k", "open 1 KiB", KiB, 0, ours_open<KiB>, ossl_open<KiB>);
    add_row<Fn>("open_1m", "open 1 MiB", MiB, 2.0, ours_open<MiB>, ossl_open<MiB>);
    add_form_rows();
    add_sm2_rows();

    // The random source has no OpenSSL counterpart; it runs alone.
    bytes_of()["rdrand_1m"] = MiB;
    benchmark::RegisterBenchmark("rdrand_1m", [](benchmark::State &st) {
        static std::vector<unsigned char> dest(MiB);
        for (auto _ : st) {
            const int rc = rdrand_get_bytes(MiB, dest.data());
            if (rc != DRNG_OK) {
                st.SkipWithError(rc == DRNG_NO_RDRAND ? "not offered (RDRAND is used on GenuineIntel only)"
                                                      : "a draw failed");
                break;
            }
        }
        st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * MiB));
    })->UseRealTime();
    benchmark::RegisterBenchmark("clock", clock_chain)->UseRealTime();
    benchmark::RegisterBenchmark("sm3_round_early", sm3_round_chain<false>)->UseRealTime();
    benchmark::RegisterBenchmark("sm3_round_late", sm3_round_chain<true>)->UseRealTime();
    benchmark::RegisterBenchmark("sm3_against_bound", sm3_against_bound)
        ->UseRealTime()
        ->Iterations(300)
        ->Repetitions(1);
    benchmark::RegisterBenchmark("sm4_round_table", round_chain<zenthal::sm4_round_table>)->UseRealTime();
    benchmark::RegisterBenchmark("sm4_round_bytewise", round_chain<zenthal::sm4_round_bytewise>)
        ->UseRealTime();

    benchmark::Initialize(&n, args.data());
    if (benchmark::ReportUnrecognizedArguments(n, args.data())) return 1;

    TableReporter rep;
    benchmark::RunSpecifiedBenchmarks(&rep);

    const std::string md = table(rep) + sm2_table(rep, median(rep.clock_hz));
    std::printf("\n%s", md.c_str());
    if (!markdown.empty()) {
        std::ofstream f(markdown);
        f << md;
        if (!f) die("cannot write the markdown table");
    }
    benchmark::Shutdown();
    return 0;
}
