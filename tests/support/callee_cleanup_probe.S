# uint32_t bytes_removed_by_callee(const void* fn, const uint32_t* args,
#                                  uint32_t count, int32_t* result)  (cdecl)
# Pushes the arguments right to left, calls fn, and measures how far the
# stack pointer moved back: the number of argument bytes the callee removed.
        .text
        .globl _bytes_removed_by_callee
_bytes_removed_by_callee:
        pushl %ebp
        movl %esp, %ebp
        pushl %ebx
        pushl %esi
        pushl %edi
        movl %esp, %esi          # stack pointer before the arguments
        movl 16(%ebp), %ecx      # count
        movl 12(%ebp), %edx      # args
1:      testl %ecx, %ecx
        jz 2f
        decl %ecx
        pushl (%edx,%ecx,4)
        jmp 1b
2:      call *8(%ebp)
        movl 20(%ebp), %edi
        movl %eax, (%edi)        # the callee's result
        movl %esp, %eax
        subl %esi, %eax          # 0 after stdcall, -4*count after cdecl
        movl 16(%ebp), %ecx
        shll $2, %ecx
        addl %ecx, %eax          # bytes removed by the callee
        movl %esi, %esp
        popl %edi
        popl %esi
        popl %ebx
        popl %ebp
        ret
