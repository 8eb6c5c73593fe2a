// debug_print's entry on x86-64: the level test, then a jump to the print.
//
// A variadic C++ function sets up its frame and the save area of the argument
// registers before its first test, and a print that no output wants paid for
// that frame about as much as for the call itself. This entry tests the module
// and the levels as debug_level_enabled does, touching only scratch registers,
// and returns 0; where some output wants the print it jumps to
// debug_print_wanted, which finds the caller's arguments (registers and stack)
// as they were.
#include <cstddef>

#include "base/ztc/debug/debug_internal.hpp"

#if ZTC_DEBUG_PRINT_ENTRY

// The offsets and bound written into the entry below.
static_assert(offsetof(debug_output_t, levels) == 132);
static_assert(offsetof(debug_output_t, next) == 576);
static_assert(sizeof(int) == 4 && DEBUG_MODULE_COUNT == 64);

// With indirect-branch tracking, a function reached through a pointer starts
// with endbr64.
#if defined(__CET__) && (__CET__ & 1)
#define ZTC_ENTRY_BRANCH_TARGET "endbr64\n"
#else
#define ZTC_ENTRY_BRANCH_TARGET ""
#endif

// rdi output, esi module, edx level. Outputs and the list are read without a
// lock, as debug_level_enabled reads them: plain loads on x86-64 carry the
// acquire order its atomic loads ask for.
asm(R"(
    .text
    .p2align 6
    .globl debug_print
    .type debug_print, @function
debug_print:
    .cfi_startproc
    )" ZTC_ENTRY_BRANCH_TARGET R"(
    cmpl $63, %esi
    ja 2f
    movl %esi, %r10d
    testq %rdi, %rdi
    jne 3f
    movq debug_output_list@GOTPCREL(%rip), %r11
    movq (%r11), %r11
    testq %r11, %r11
    je 2f
1:
    cmpl 132(%r11,%r10,4), %edx
    jle debug_print_wanted
    movq 576(%r11), %r11
    testq %r11, %r11
    jne 1b
2:
    xorl %eax, %eax
    ret
3:
    cmpl 132(%rdi,%r10,4), %edx
    jle debug_print_wanted
    xorl %eax, %eax
    ret
    .cfi_endproc
    .size debug_print, .-debug_print
)");

#endif
