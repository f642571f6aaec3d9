// The x86-adx form of the SM2 curve arithmetic: the field's Montgomery
// multiplication and squaring on MULX with two carry chains side by side
// (ADCX through the carry flag, ADOX through the overflow flag), and its
// addition and subtraction with CMOV, all in registers and without a branch;
// the shared curve code's table scans get whole AVX2 registers. Compiled with
// -mbmi2 -madx -mavx2 and run only where the processor offers all three.
#include "forms/sm2_forms.h"

#if defined(ZENTHAL_SM2_X86)

#include <cstdint>

#include "util/ct.h"

namespace {

alignas(32) constexpr uint64_t kFieldP[4] = {0xffffffffffffffffULL, 0xffffffff00000000ULL,
                                             0xffffffffffffffffULL, 0xfffffffeffffffffULL};
constexpr uint64_t kZero = 0;
constexpr uint64_t kTwo32 = 1ULL << 32;

// The Montgomery reduction that ends both, over two scratch registers S1
// and S2: four rounds, each adding m·p for m the lowest limb left, which
// clears that limb. With t = m in that limb, m·p = m·2^256 - m·2^224 -
// m·2^96 + m·2^64 - m leaves D = m·(2^32 - 1)·(2^160 - 1) to add one limb
// up: four limbs from m·2^32 and a subtraction chain. m·2^32 comes from one
// MULX rather than two shifts, which would compete with the carry chains
// for the same two execution ports. The cleared limb's register takes the
// round's carries into the limb above the next round's reach, where the next
// round adds them (ADOX beside its ADCX chain), so no carry ripples to the
// top. The last round's carries sit above the top; the sum, below 2p, needs
// one subtraction of p, undone by CMOV when it borrows.
// r may alias the inputs: it is written last.
// clang-format off
// One round: m in register T, added as D into L1..L4 beside CARRY_IN (the
// ADOX of the round before's carries), then T takes this round's carries.
#define SM2_ADX_ROUND(T, L1, L2, L3, L4, S1, S2, CARRY_IN) \
    "movq %%" T ", %%rdx\n\t"                             \
    "mulxq %[two32], %%rax, %%rbx\n\t"                    \
    "subq %%rax, %%rdx\n\t"                               \
    "movq $0, " S1 "\n\t"                                 \
    "sbbq %%rbx, " S1 "\n\t"                              \
    "movq $0, " S2 "\n\t"                                 \
    "sbbq %%rax, " S2 "\n\t"                              \
    "sbbq %%rbx, %%" T "\n\t"                             \
    "xorl %%eax, %%eax\n\t"                               \
    "adcxq %%rdx, %%" L1 "\n\t"                           \
    "adcxq " S1 ", %%" L2 "\n\t"                          \
    "adcxq " S2 ", %%" L3 "\n\t"                          \
    "adcxq %%" T ", %%" L4 "\n\t"                         \
    CARRY_IN                                              \
    "movq $0, %%" T "\n\t"                                \
    "adcxq %%rax, %%" T "\n\t"                            \
    "adoxq %%rax, %%" T "\n\t"

#define SM2_ADX_REDUCTION(S1, S2)                                                      \
    SM2_ADX_ROUND("r8", "r9", "r10", "r11", "r12", S1, S2, "")                         \
    SM2_ADX_ROUND("r9", "r10", "r11", "r12", "r13", S1, S2, "adoxq %%r8, %%r13\n\t")   \
    SM2_ADX_ROUND("r10", "r11", "r12", "r13", "r14", S1, S2, "adoxq %%r9, %%r14\n\t")  \
    SM2_ADX_ROUND("r11", "r12", "r13", "r14", "r15", S1, S2, "adoxq %%r10, %%r15\n\t") \
    "movq %%r12, %%rax\n\t"                                                            \
    "movq %%r13, %%rbx\n\t"                                                            \
    "movq %%r14, %%rdx\n\t"                                                            \
    "movq %%r15, " S1 "\n\t"                                                           \
    "subq %[p0], %%r12\n\t"                                                            \
    "sbbq %[p1], %%r13\n\t"                                                            \
    "sbbq %[p2], %%r14\n\t"                                                            \
    "sbbq %[p3], %%r15\n\t"                                                            \
    "sbbq $0, %%r11\n\t"                                                               \
    "cmovcq %%rax, %%r12\n\t"                                                          \
    "cmovcq %%rbx, %%r13\n\t"                                                          \
    "cmovcq %%rdx, %%r14\n\t"                                                          \
    "cmovcq " S1 ", %%r15\n\t"                                                         \
    "movq %%r12, 0(%[r])\n\t"                                                          \
    "movq %%r13, 8(%[r])\n\t"                                                          \
    "movq %%r14, 16(%[r])\n\t"                                                         \
    "movq %%r15, 24(%[r])\n\t"
// clang-format on

// r = a·b·2^-256 mod p: the product row by row, each row's low and high
// halves on their own carry chains (ADCX, ADOX), then the reduction.
static inline void fe_mul(uint64_t r[4], const uint64_t a[4], const uint64_t b[4]) {
    const uint64_t *a_reg = a, *b_reg = b;
    __asm__ volatile(
        "movq 0(%[b]), %%rdx\n\t"
        "mulxq 0(%[a]), %%r8, %%r9\n\t"
        "mulxq 8(%[a]), %%rax, %%r10\n\t"
        "addq %%rax, %%r9\n\t"
        "mulxq 16(%[a]), %%rax, %%r11\n\t"
        "adcq %%rax, %%r10\n\t"
        "mulxq 24(%[a]), %%rax, %%r12\n\t"
        "adcq %%rax, %%r11\n\t"
        "adcq $0, %%r12\n\t"
        "movq 8(%[b]), %%rdx\n\t"
        "xorl %%eax, %%eax\n\t"
        "mulxq 0(%[a]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r9\n\t"
        "adoxq %%rbx, %%r10\n\t"
        "mulxq 8(%[a]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r10\n\t"
        "adoxq %%rbx, %%r11\n\t"
        "mulxq 16(%[a]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r11\n\t"
        "adoxq %%rbx, %%r12\n\t"
        "mulxq 24(%[a]), %%rax, %%r13\n\t"
        "adcxq %%rax, %%r12\n\t"
        "adcxq %[zero], %%r13\n\t"
        "adoxq %[zero], %%r13\n\t"
        "movq 16(%[b]), %%rdx\n\t"
        "xorl %%eax, %%eax\n\t"
        "mulxq 0(%[a]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r10\n\t"
        "adoxq %%rbx, %%r11\n\t"
        "mulxq 8(%[a]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r11\n\t"
        "adoxq %%rbx, %%r12\n\t"
        "mulxq 16(%[a]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r12\n\t"
        "adoxq %%rbx, %%r13\n\t"
        "mulxq 24(%[a]), %%rax, %%r14\n\t"
        "adcxq %%rax, %%r13\n\t"
        "adcxq %[zero], %%r14\n\t"
        "adoxq %[zero], %%r14\n\t"
        "movq 24(%[b]), %%rdx\n\t"
        "xorl %%eax, %%eax\n\t"
        "mulxq 0(%[a]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r11\n\t"
        "adoxq %%rbx, %%r12\n\t"
        "mulxq 8(%[a]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r12\n\t"
        "adoxq %%rbx, %%r13\n\t"
        "mulxq 16(%[a]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r13\n\t"
        "adoxq %%rbx, %%r14\n\t"
        "mulxq 24(%[a]), %%rax, %%r15\n\t"
        "adcxq %%rax, %%r14\n\t"
        "adcxq %[zero], %%r15\n\t"
        "adoxq %[zero], %%r15\n\t" SM2_ADX_REDUCTION("%[a]", "%[b]")
        : [a] "+&r"(a_reg), [b] "+&r"(b_reg)
        : [r] "r"(r), [zero] "m"(kZero), [two32] "m"(kTwo32), [p0] "m"(kFieldP[0]), [p1] "m"(kFieldP[1]),
          [p2] "m"(kFieldP[2]), [p3] "m"(kFieldP[3])
        : "rax", "rbx", "rdx", "r8", "r9", "r10", "r11", "r12", "r13", "r14", "r15", "cc", "memory");
}

// r = a^2·2^-256 mod p: the six cross products once, doubled, and the four
// squares added, then the reduction.
static inline void fe_sqr(uint64_t r[4], const uint64_t a[4]) {
    const uint64_t *a_reg = a;
    uint64_t scratch;
    __asm__ volatile(
        "movq 0(%[a]), %%rdx\n\t"
        "mulxq 8(%[a]), %%r9, %%r10\n\t"
        "mulxq 16(%[a]), %%rax, %%r11\n\t"
        "addq %%rax, %%r10\n\t"
        "mulxq 24(%[a]), %%rax, %%r12\n\t"
        "adcq %%rax, %%r11\n\t"
        "adcq $0, %%r12\n\t"
        "movq 8(%[a]), %%rdx\n\t"
        "xorl %%eax, %%eax\n\t"
        "mulxq 16(%[a]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r11\n\t"
        "adoxq %%rbx, %%r12\n\t"
        "mulxq 24(%[a]), %%rax, %%r13\n\t"
        "adcxq %%rax, %%r12\n\t"
        "adcxq %[zero], %%r13\n\t"
        "adoxq %[zero], %%r13\n\t"
        "movq 16(%[a]), %%rdx\n\t"
        "mulxq 24(%[a]), %%rax, %%r14\n\t"
        "addq %%rax, %%r13\n\t"
        "adcq $0, %%r14\n\t"
        "movq $0, %%r15\n\t"
        "addq %%r9, %%r9\n\t"
        "adcq %%r10, %%r10\n\t"
        "adcq %%r11, %%r11\n\t"
        "adcq %%r12, %%r12\n\t"
        "adcq %%r13, %%r13\n\t"
        "adcq %%r14, %%r14\n\t"
        "adcq %%r15, %%r15\n\t"
        "movq 0(%[a]), %%rdx\n\t"
        "mulxq %%rdx, %%r8, %%rax\n\t"
        "addq %%rax, %%r9\n\t"
        "movq 8(%[a]), %%rdx\n\t"
        "mulxq %%rdx, %%rax, %%rbx\n\t"
        "adcq %%rax, %%r10\n\t"
        "adcq %%rbx, %%r11\n\t"
        "movq 16(%[a]), %%rdx\n\t"
        "mulxq %%rdx, %%rax, %%rbx\n\t"
        "adcq %%rax, %%r12\n\t"
        "adcq %%rbx, %%r13\n\t"
        "movq 24(%[a]), %%rdx\n\t"
        "mulxq %%rdx, %%rax, %%rbx\n\t"
        "adcq %%rax, %%r14\n\t"
        "adcq %%rbx, %%r15\n\t" SM2_ADX_REDUCTION("%[a]", "%[s]")
        : [a] "+&r"(a_reg), [s] "=&r"(scratch)
        : [r] "r"(r), [zero] "m"(kZero), [two32] "m"(kTwo32), [p0] "m"(kFieldP[0]), [p1] "m"(kFieldP[1]),
          [p2] "m"(kFieldP[2]), [p3] "m"(kFieldP[3])
        : "rax", "rbx", "rdx", "r8", "r9", "r10", "r11", "r12", "r13", "r14", "r15", "cc", "memory");
}

// r = (a + b) mod p: the sum less p, or the sum itself when that borrows.
static inline void fe_add(uint64_t r[4], const uint64_t a[4], const uint64_t b[4]) {
    __asm__ volatile(
        "movq 0(%[a]), %%r8\n\t"
        "movq 8(%[a]), %%r9\n\t"
        "movq 16(%[a]), %%r10\n\t"
        "movq 24(%[a]), %%r11\n\t"
        "xorl %%r12d, %%r12d\n\t"
        "addq 0(%[b]), %%r8\n\t"
        "adcq 8(%[b]), %%r9\n\t"
        "adcq 16(%[b]), %%r10\n\t"
        "adcq 24(%[b]), %%r11\n\t"
        "adcq $0, %%r12\n\t"
        "movq %%r8, %%rax\n\t"
        "movq %%r9, %%rdx\n\t"
        "movq %%r10, %%r13\n\t"
        "movq %%r11, %%r14\n\t"
        "subq 0(%[p]), %%r8\n\t"
        "sbbq 8(%[p]), %%r9\n\t"
        "sbbq 16(%[p]), %%r10\n\t"
        "sbbq 24(%[p]), %%r11\n\t"
        "sbbq $0, %%r12\n\t"
        "cmovcq %%rax, %%r8\n\t"
        "cmovcq %%rdx, %%r9\n\t"
        "cmovcq %%r13, %%r10\n\t"
        "cmovcq %%r14, %%r11\n\t"
        "movq %%r8, 0(%[r])\n\t"
        "movq %%r9, 8(%[r])\n\t"
        "movq %%r10, 16(%[r])\n\t"
        "movq %%r11, 24(%[r])\n\t"
        :
        : [r] "r"(r), [a] "r"(a), [b] "r"(b), [p] "r"(kFieldP)
        : "rax", "rdx", "r8", "r9", "r10", "r11", "r12", "r13", "r14", "cc", "memory");
}

// r = (a - b) mod p: the difference, plus p masked by its borrow.
static inline void fe_sub(uint64_t r[4], const uint64_t a[4], const uint64_t b[4]) {
    __asm__ volatile(
        "movq 0(%[a]), %%r8\n\t"
        "movq 8(%[a]), %%r9\n\t"
        "movq 16(%[a]), %%r10\n\t"
        "movq 24(%[a]), %%r11\n\t"
        "subq 0(%[b]), %%r8\n\t"
        "sbbq 8(%[b]), %%r9\n\t"
        "sbbq 16(%[b]), %%r10\n\t"
        "sbbq 24(%[b]), %%r11\n\t"
        "sbbq %%r12, %%r12\n\t"
        "movq 0(%[p]), %%rax\n\t"
        "movq 8(%[p]), %%rdx\n\t"
        "movq 16(%[p]), %%r13\n\t"
        "movq 24(%[p]), %%r14\n\t"
        "andq %%r12, %%rax\n\t"
        "andq %%r12, %%rdx\n\t"
        "andq %%r12, %%r13\n\t"
        "andq %%r12, %%r14\n\t"
        "addq %%rax, %%r8\n\t"
        "adcq %%rdx, %%r9\n\t"
        "adcq %%r13, %%r10\n\t"
        "adcq %%r14, %%r11\n\t"
        "movq %%r8, 0(%[r])\n\t"
        "movq %%r9, 8(%[r])\n\t"
        "movq %%r10, 16(%[r])\n\t"
        "movq %%r11, 24(%[r])\n\t"
        :
        : [r] "r"(r), [a] "r"(a), [b] "r"(b), [p] "r"(kFieldP)
        : "rax", "rdx", "r8", "r9", "r10", "r11", "r12", "r13", "r14", "cc", "memory");
}

}  // namespace

#define SM2_FIELD_ADD_SUB 1
#include "forms/sm2_curve.inc"

namespace zenthal {
extern const Sm2Form SM2_FORM_X86_ADX = {"x86-adx",   form_base_mul, form_point_mul,
                                         form_verify, form_on_curve, form_mul_add_public};
}  // namespace zenthal

#endif
