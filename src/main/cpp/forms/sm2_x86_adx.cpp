// The x86-adx form of the SM2 curve arithmetic: the field's Montgomery
// multiplication on MULX with two carry chains side by side (ADCX through
// the carry flag, ADOX through the overflow flag), and its addition and
// subtraction with CMOV, all in registers and without a branch. Compiled
// with -mbmi2 -madx and run only where the processor offers both.
#include "forms/sm2_forms.h"

#if defined(ZENTHAL_SM2_X86)

#include <cstdint>

#include "util/ct.h"

namespace {

alignas(32) constexpr uint64_t kFieldP[4] = {0xffffffffffffffffULL, 0xffffffff00000000ULL,
                                             0xffffffffffffffffULL, 0xfffffffeffffffffULL};

// r = a·b·2^-256 mod p. Each of the four rounds adds a·b[i] to the
// accumulator, then m·p with m its low limb (p = -1 mod 2^64), which clears
// that limb; the registers rotate instead of the limbs moving. The sum stays
// below 2p, and one subtraction of p, undone by CMOV when it borrows, ends
// it. r may alias a or b: it is written last.
static inline void fe_mul(uint64_t r[4], const uint64_t a[4], const uint64_t b[4]) {
    __asm__ volatile(
        "movq 0(%[b]), %%rdx\n\t"
        "xorl %%r14d, %%r14d\n\t"
        "mulxq 0(%[a]), %%r8, %%r9\n\t"
        "mulxq 8(%[a]), %%rax, %%r10\n\t"
        "adcxq %%rax, %%r9\n\t"
        "mulxq 16(%[a]), %%rax, %%r11\n\t"
        "adcxq %%rax, %%r10\n\t"
        "mulxq 24(%[a]), %%rax, %%r12\n\t"
        "adcxq %%rax, %%r11\n\t"
        "adcxq %%r14, %%r12\n\t"
        "movq $0, %%r13\n\t"
        "movq %%r8, %%rdx\n\t"
        "xorl %%r14d, %%r14d\n\t"
        "mulxq 0(%[p]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r8\n\t"
        "adoxq %%rbx, %%r9\n\t"
        "mulxq 8(%[p]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r9\n\t"
        "adoxq %%rbx, %%r10\n\t"
        "mulxq 16(%[p]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r10\n\t"
        "adoxq %%rbx, %%r11\n\t"
        "mulxq 24(%[p]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r11\n\t"
        "adoxq %%rbx, %%r12\n\t"
        "adcxq %%r14, %%r12\n\t"
        "adoxq %%r14, %%r13\n\t"
        "adcxq %%r14, %%r13\n\t"
        "movq 8(%[b]), %%rdx\n\t"
        "xorl %%r14d, %%r14d\n\t"
        "movq $0, %%r8\n\t"
        "mulxq 0(%[a]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r9\n\t"
        "adoxq %%rbx, %%r10\n\t"
        "mulxq 8(%[a]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r10\n\t"
        "adoxq %%rbx, %%r11\n\t"
        "mulxq 16(%[a]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r11\n\t"
        "adoxq %%rbx, %%r12\n\t"
        "mulxq 24(%[a]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r12\n\t"
        "adoxq %%rbx, %%r13\n\t"
        "adcxq %%r14, %%r13\n\t"
        "adoxq %%r14, %%r8\n\t"
        "adcxq %%r14, %%r8\n\t"
        "movq %%r9, %%rdx\n\t"
        "xorl %%r14d, %%r14d\n\t"
        "mulxq 0(%[p]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r9\n\t"
        "adoxq %%rbx, %%r10\n\t"
        "mulxq 8(%[p]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r10\n\t"
        "adoxq %%rbx, %%r11\n\t"
        "mulxq 16(%[p]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r11\n\t"
        "adoxq %%rbx, %%r12\n\t"
        "mulxq 24(%[p]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r12\n\t"
        "adoxq %%rbx, %%r13\n\t"
        "adcxq %%r14, %%r13\n\t"
        "adoxq %%r14, %%r8\n\t"
        "adcxq %%r14, %%r8\n\t"
        "movq 16(%[b]), %%rdx\n\t"
        "xorl %%r14d, %%r14d\n\t"
        "movq $0, %%r9\n\t"
        "mulxq 0(%[a]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r10\n\t"
        "adoxq %%rbx, %%r11\n\t"
        "mulxq 8(%[a]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r11\n\t"
        "adoxq %%rbx, %%r12\n\t"
        "mulxq 16(%[a]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r12\n\t"
        "adoxq %%rbx, %%r13\n\t"
        "mulxq 24(%[a]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r13\n\t"
        "adoxq %%rbx, %%r8\n\t"
        "adcxq %%r14, %%r8\n\t"
        "adoxq %%r14, %%r9\n\t"
        "adcxq %%r14, %%r9\n\t"
        "movq %%r10, %%rdx\n\t"
        "xorl %%r14d, %%r14d\n\t"
        "mulxq 0(%[p]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r10\n\t"
        "adoxq %%rbx, %%r11\n\t"
        "mulxq 8(%[p]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r11\n\t"
        "adoxq %%rbx, %%r12\n\t"
        "mulxq 16(%[p]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r12\n\t"
        "adoxq %%rbx, %%r13\n\t"
        "mulxq 24(%[p]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r13\n\t"
        "adoxq %%rbx, %%r8\n\t"
        "adcxq %%r14, %%r8\n\t"
        "adoxq %%r14, %%r9\n\t"
        "adcxq %%r14, %%r9\n\t"
        "movq 24(%[b]), %%rdx\n\t"
        "xorl %%r14d, %%r14d\n\t"
        "movq $0, %%r10\n\t"
        "mulxq 0(%[a]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r11\n\t"
        "adoxq %%rbx, %%r12\n\t"
        "mulxq 8(%[a]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r12\n\t"
        "adoxq %%rbx, %%r13\n\t"
        "mulxq 16(%[a]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r13\n\t"
        "adoxq %%rbx, %%r8\n\t"
        "mulxq 24(%[a]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r8\n\t"
        "adoxq %%rbx, %%r9\n\t"
        "adcxq %%r14, %%r9\n\t"
        "adoxq %%r14, %%r10\n\t"
        "adcxq %%r14, %%r10\n\t"
        "movq %%r11, %%rdx\n\t"
        "xorl %%r14d, %%r14d\n\t"
        "mulxq 0(%[p]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r11\n\t"
        "adoxq %%rbx, %%r12\n\t"
        "mulxq 8(%[p]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r12\n\t"
        "adoxq %%rbx, %%r13\n\t"
        "mulxq 16(%[p]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r13\n\t"
        "adoxq %%rbx, %%r8\n\t"
        "mulxq 24(%[p]), %%rax, %%rbx\n\t"
        "adcxq %%rax, %%r8\n\t"
        "adoxq %%rbx, %%r9\n\t"
        "adcxq %%r14, %%r9\n\t"
        "adoxq %%r14, %%r10\n\t"
        "adcxq %%r14, %%r10\n\t"
        "movq %%r12, %%rax\n\t"
        "movq %%r13, %%rbx\n\t"
        "movq %%r8, %%rdx\n\t"
        "movq %%r9, %%r14\n\t"
        "subq 0(%[p]), %%r12\n\t"
        "sbbq 8(%[p]), %%r13\n\t"
        "sbbq 16(%[p]), %%r8\n\t"
        "sbbq 24(%[p]), %%r9\n\t"
        "sbbq $0, %%r10\n\t"
        "cmovcq %%rax, %%r12\n\t"
        "cmovcq %%rbx, %%r13\n\t"
        "cmovcq %%rdx, %%r8\n\t"
        "cmovcq %%r14, %%r9\n\t"
        "movq %%r12, 0(%[r])\n\t"
        "movq %%r13, 8(%[r])\n\t"
        "movq %%r8, 16(%[r])\n\t"
        "movq %%r9, 24(%[r])\n\t"
        :
        : [r] "r"(r), [a] "r"(a), [b] "r"(b), [p] "r"(kFieldP)
        : "rax", "rbx", "rdx", "r8", "r9", "r10", "r11", "r12", "r13", "r14", "cc", "memory");
}

static inline void fe_sqr(uint64_t r[4], const uint64_t a[4]) { fe_mul(r, a, a); }

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
extern const Sm2Form SM2_FORM_X86_ADX = {"x86-adx", form_base_mul, form_point_mul, form_verify,
                                         form_on_curve};
}  // namespace zenthal

#endif
