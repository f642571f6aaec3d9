// Does the time an opening takes tell why it failed? A dudect-style test on
// the shipped library: cycle counts of SM4_process_cbc_and_mac opening
// 1024-byte envelopes of four classes, drawn in random order,
//   valid            a sealed envelope as it is;
//   pad: last byte   the last plaintext byte no longer a pad value;
//   pad: first byte  the first of the eight pad bytes wrong;
//   bad MAC          one bit of the MAC flipped;
// then Welch's t between every pair of classes, on all measurements and on
// sets cropped at a ladder of upper percentiles as dudect does (the slow
// tail is mostly interrupts and other processes). |t| below 4.5 everywhere
// is dudect's "no leak found"; a padding oracle shows as |t| in the
// thousands.
//
// Every measurement opens a fresh envelope (random plaintext, sealed
// beforehand, untimed), so the classes differ in nothing but the failure.
// Envelopes are made in batches before any of them is timed, and the timing
// loop runs the same code whatever the class: a branch on the class just
// before the call would leave its mark in the branch predictor's history
// and show up in the t-test as a leak of the harness.
//
//   zenthal_timing [--measurements=N] [--markdown=FILE] [--form=NAME | --sm2]
//
// --sm2 times SM2 signing instead, with keys of low, random and high Hamming
// weight as the classes (see sm2_signing).
//
// N is the least count per class (default 1000000). NAME is the SM4 form to
// run (sm4_forms.h); by default the one the library chooses. A form the
// processor lacks exits 2.
#include <sched.h>
#include <x86intrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "forms/sm4_forms.h"
#include "forms/sm2_forms.h"
#include "sm2.h"
#include "sm4_cbc.h"

namespace {

constexpr int kClasses = 4;
const char *const kClassName[kClasses] = {"valid", "pad: last byte", "pad: first byte", "bad MAC"};

// The plaintext leaves 8 pad bytes in the last block: 1000 bytes seal into
// 1008 of ciphertext and 16 of MAC.
constexpr uint32_t kPlain = 1000;
constexpr uint32_t kEnvelope = kPlain / 16 * 16 + 32;
constexpr uint32_t kPad = 16 - kPlain % 16;

struct Rng {
    uint64_t s = 0x9E3779B97F4A7C15u;
    uint64_t next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return s;
    }
};

[[noreturn]] void die(const char *what) {
    std::fprintf(stderr, "zenthal_timing: %s\n", what);
    std::exit(2);
}

// Cycles of one call, fenced so that neither the call's first instructions
// nor its last ones escape the window.
template <class F>
uint64_t cycles(F &&f) {
    unsigned aux;
    _mm_lfence();
    const uint64_t t0 = __rdtsc();
    _mm_lfence();
    f();
    const uint64_t t1 = __rdtscp(&aux);
    _mm_lfence();
    return t1 - t0;
}

struct Stats {
    double n = 0, mean = 0, m2 = 0;  // Welford
    void add(double x) {
        n += 1;
        const double d = x - mean;
        mean += d / n;
        m2 += d * (x - mean);
    }
    double var() const { return n > 1 ? m2 / (n - 1) : 0; }
};

double welch_t(const Stats &a, const Stats &b) {
    const double se = std::sqrt(a.var() / a.n + b.var() / b.n);
    return se > 0 ? (a.mean - b.mean) / se : 0;
}

// Prints the table, and writes it to `markdown` when that names a file.
void publish(const std::string &md, const std::string &markdown) {
    std::printf("%s", md.c_str());
    if (markdown.empty()) return;
    std::ofstream f(markdown);
    f << md;
    if (!f) die("cannot write the markdown table");
}

// Welch's t between every pair of classes of the measurements t (class of
// each in cls), on all of them and on sets cropped at dudect's ladder of
// upper percentiles: the markdown table, after `header` and each class's
// count and median.
std::string report(const std::vector<uint64_t> &t, const std::vector<uint32_t> &cls,
                   const char *const names[], int classes, const std::string &header) {
    const int kClasses = classes;
    const char *const *kClassName = names;
    std::vector<long> count(static_cast<size_t>(classes));
    for (uint32_t c : cls) ++count[c];
    // Crop levels: dudect's ladder of percentiles, 1 - 0.5^(10 (i + 1) / 20),
    // over all measurements, plus no crop.
    std::vector<uint64_t> sorted(t);
    std::sort(sorted.begin(), sorted.end());
    std::vector<uint64_t> crop = {UINT64_MAX};
    std::vector<double> crop_pct = {100};
    for (int i = 0; i < 20; ++i) {
        const double p = 1 - std::pow(0.5, 10.0 * (i + 1) / 20);
        crop.push_back(sorted[static_cast<size_t>(p * static_cast<double>(sorted.size() - 1))]);
        crop_pct.push_back(100 * p);
    }
    std::vector<Stats> st(crop.size() * kClasses);
    for (size_t i = 0; i < t.size(); ++i) {
        for (size_t k = 0; k < crop.size(); ++k)
            if (t[i] <= crop[k]) st[k * kClasses + cls[i]].add(static_cast<double>(t[i]));
    }

    std::ostringstream md;
    md << header << " Per class: ";
    for (int c = 0; c < kClasses; ++c) {
        char s[160];
        std::snprintf(s, sizeof s, "%s%s %ld measurements, median %.0f cycles", c ? "; " : "", kClassName[c],
                      count[c], [&] {
                          std::vector<uint64_t> v;
                          for (size_t i = 0; i < t.size(); ++i)
                              if (cls[i] == static_cast<uint32_t>(c)) v.push_back(t[i]);
                          std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
                          return static_cast<double>(v[v.size() / 2]);
                      }());
        md << s;
    }
    md << ".\n\n"
       << "| Classes | largest \\|t\\| | at crop | target | met |\n"
       << "|---|---:|---:|---:|---|\n";
    for (int a = 0; a < kClasses; ++a) {
        for (int b = a + 1; b < kClasses; ++b) {
            double worst = 0, at = 100;
            for (size_t k = 0; k < crop.size(); ++k) {
                const Stats &x = st[k * kClasses + a], &y = st[k * kClasses + b];
                if (x.n < 1000 || y.n < 1000) continue;
                const double tv = std::fabs(welch_t(x, y));
                if (tv > worst) {
                    worst = tv;
                    at = crop_pct[k];
                }
            }
            char s[256];
            std::snprintf(s, sizeof s, "| %s vs %s | %.2f | %.1f %% | < 4.5 | %s |\n", kClassName[a],
                          kClassName[b], worst, at, worst < 4.5 ? "yes" : "**no**");
            md << s;
        }
    }
    return md.str();
}

// SM2 signing with keys of three Hamming weights: does the time a signature
// takes tell anything of the key? Each class holds 16 keys; every
// measurement signs a fresh random digest with fresh entropy under a key of
// a class drawn at random, so the nonce is fresh too.
int sm2_signing(long per_class, const std::string &markdown) {
    constexpr int kKeyClasses = 3;
    const char *const names[kKeyClasses] = {"low-weight keys", "random keys", "high-weight keys"};
    Rng rng;
    uint8_t keys[kKeyClasses][16][32];
    for (int k = 0; k < 16; ++k) {
        // About 8 bits set; about 128; n - 2 less a few bits (about 190).
        uint8_t *low = keys[0][k], *mid = keys[1][k], *high = keys[2][k];
        std::memset(low, 0, 32);
        for (int j = 0; j < 8; ++j) {
            const uint64_t r = rng.next();
            low[1 + r % 31] |= static_cast<uint8_t>(1u << (r >> 8 & 7));
        }
        for (int j = 0; j < 32; ++j) mid[j] = static_cast<uint8_t>(rng.next());
        mid[0] &= 0x7f;
        static const uint8_t n_minus_2[32] = {
            0xff, 0xff, 0xff, 0xfe, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
            0x72, 0x03, 0xdf, 0x6b, 0x21, 0xc6, 0x05, 0x2b, 0x53, 0xbb, 0xf4, 0x09, 0x39, 0xd5, 0x41, 0x21};
        std::memcpy(high, n_minus_2, 32);
        for (int j = 0; j < 4; ++j) {
            const uint64_t r = rng.next();
            high[1 + r % 31] &= static_cast<uint8_t>(~(1u << (r >> 8 & 7)));
        }
    }
    constexpr size_t kBatch = 64;
    uint8_t e[kBatch][32], entropy[kBatch][32], sig[64];
    int batch_class[kBatch], batch_key[kBatch];
    int32_t batch_rc[kBatch];
    uint64_t batch_t[kBatch];
    std::vector<uint32_t> cls;
    std::vector<uint64_t> t;
    long count[kKeyClasses] = {};
    auto done = [&] {
        for (long c : count)
            if (c < per_class) return false;
        return true;
    };
    while (!done()) {
        for (size_t b = 0; b < kBatch; ++b) {
            const uint64_t r = rng.next();
            batch_class[b] = static_cast<int>((r >> 32) % kKeyClasses);
            batch_key[b] = static_cast<int>(r & 15);
            for (int j = 0; j < 32; ++j) {
                e[b][j] = static_cast<uint8_t>(rng.next());
                entropy[b][j] = static_cast<uint8_t>(rng.next());
            }
        }
        for (size_t b = 0; b < kBatch; ++b) {
            const uint8_t *const d = keys[batch_class[b]][batch_key[b]];
            batch_t[b] =
                cycles([&] { batch_rc[b] = SM2_sign_digest(d, nullptr, e[b], entropy[b], 32, sig); });
        }
        for (size_t b = 0; b < kBatch; ++b) {
            if (batch_rc[b] != SM2_SUCCESS) die("a signature failed");
            cls.push_back(static_cast<uint32_t>(batch_class[b]));
            t.push_back(batch_t[b]);
            ++count[batch_class[b]];
        }
    }
    std::ostringstream head;
    head << "SM2 form " << zenthal::sm2_form().name
         << ". Signing 32-byte digests (`SM2_sign_digest`, the inverse computed in the call) under 16 keys "
            "of each "
            "class, classes drawn at random, cycles by the time-stamp counter.";
    const std::string md = report(t, cls, names, kKeyClasses, head.str());
    publish(md, markdown);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    long per_class = 1000000;
    std::string markdown;
    bool sm2 = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--measurements=", 15) == 0)
            per_class = std::atol(argv[i] + 15);
        else if (std::strncmp(argv[i], "--markdown=", 11) == 0)
            markdown = argv[i] + 11;
        else if (std::strcmp(argv[i], "--sm2") == 0)
            sm2 = true;
        else if (std::strncmp(argv[i], "--form=", 7) == 0) {
            if (!zenthal::sm4_use_form(argv[i] + 7)) {
                std::fprintf(stderr, "zenthal_timing: this processor lacks the SM4 form %s\n", argv[i] + 7);
                return 2;
            }
        } else
            die("usage: zenthal_timing [--measurements=N] [--markdown=FILE] [--form=NAME | --sm2]");
    }
    if (per_class < 100) die("--measurements must be at least 100");

    // One core, so that a migration does not land between the two reads of
    // the counter.
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu(), &one);
    sched_setaffinity(0, sizeof one, &one);
    if (sm2) return sm2_signing(per_class, markdown);

    Rng rng;
    uint8_t key[16], mac_key[16], iv[16];
    for (auto *k : {key, mac_key, iv})
        for (int j = 0; j < 16; ++j) k[j] = static_cast<uint8_t>(rng.next());

    constexpr size_t kBatch = 64;
    std::vector<uint8_t> plain(kPlain), env(kEnvelope * kBatch), out(kEnvelope);
    int batch_class[kBatch];
    int32_t batch_rc[kBatch];
    uint64_t batch_t[kBatch];
    std::vector<uint32_t> cls;
    std::vector<uint64_t> t;
    cls.reserve(static_cast<size_t>(per_class) * kClasses + 4096);
    t.reserve(cls.capacity());
    long count[kClasses] = {};
    int32_t expect[kClasses] = {SM4_SUCCESS, SM4_ERR_BAD_PADDING, SM4_ERR_BAD_PADDING, SM4_ERR_MAC_MISMATCH};
    // The byte of the envelope each class changes: in the ciphertext block
    // before the last, which CBC XORs into the last plaintext block.
    const uint32_t prev = kEnvelope - 48;

    auto done = [&] {
        for (long c : count)
            if (c < per_class) return false;
        return true;
    };
    while (!done()) {
        for (size_t b = 0; b < kBatch; ++b) {
            const uint64_t r = rng.next();
            const int c = static_cast<int>(r >> 62);
            for (size_t j = 0; j < kPlain; j += 8) {
                const uint64_t w = rng.next();
                std::memcpy(plain.data() + j, &w, std::min<size_t>(8, kPlain - j));
            }
            uint8_t *const e = env.data() + kEnvelope * b;
            uint32_t n = kEnvelope;
            if (SM4_process_cbc_and_mac(1, key, mac_key, iv, plain.data(), kPlain, e, &n) != SM4_SUCCESS)
                die("seal failed");
            switch (c) {
                case 1:
                    e[prev + 15] ^= 0x80;
                    break;  // pad value 0x88
                case 2:
                    e[prev + 16 - kPad] ^= 0x01;
                    break;  // 9 among the 8s
                case 3:
                    e[kEnvelope - 16 + (r & 15)] ^= 0x01;
                    break;
                default:
                    break;
            }
            batch_class[b] = c;
        }
        for (size_t b = 0; b < kBatch; ++b) {
            const uint8_t *const e = env.data() + kEnvelope * b;
            uint32_t cap = kEnvelope;
            batch_t[b] = cycles([&] {
                batch_rc[b] = SM4_process_cbc_and_mac(0, key, mac_key, iv, e, kEnvelope, out.data(), &cap);
            });
        }
        for (size_t b = 0; b < kBatch; ++b) {
            const int c = batch_class[b];
            if (batch_rc[b] != expect[c]) die("an envelope did not fail as its class should");
            cls.push_back(static_cast<uint32_t>(c));
            t.push_back(batch_t[b]);
            ++count[c];
        }
    }

    std::ostringstream head;
    head << "SM4 form " << zenthal::sm4_form().name << ". Opening " << kEnvelope << "-byte envelopes ("
         << kPlain << "-byte plaintexts, " << kPad
         << " pad bytes), classes drawn at random, cycles by the time-stamp counter.";
    const std::string md = report(t, cls, kClassName, kClasses, head.str());
    publish(md, markdown);
    return 0;
}
