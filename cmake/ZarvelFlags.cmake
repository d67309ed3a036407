# One place for the compiler settings every Zarvel target gets.
#
# zarvel_target_flags(target) gives a target our warnings and our floating-point rules:
# the outline arithmetic is specified to the bit, so contraction into FMA is off everywhere
# and fast-math never appears. GCC's note that the ABI of 32-byte vector arguments changed in
# GCC 4.6 is only informational (we pass such vectors between our own functions only).
function(zarvel_target_flags target)
    target_compile_options(${target} PRIVATE
        $<$<COMPILE_LANGUAGE:CXX>:
            -Wall -Wextra -Wpedantic -Wshadow -Wswitch-enum -Wformat=2 -Wimplicit-fallthrough
            -Woverloaded-virtual -Wsuggest-override -Wcast-qual
            -ffp-contract=off>
        $<$<COMPILE_LANGUAGE:C>:-Wall -Wextra -Wpedantic -ffp-contract=off>
        $<$<CXX_COMPILER_ID:GNU>:-Wno-psabi>)
    # Win64 keeps the stack aligned to 16 bytes only, and GCC cannot realign it under Windows'
    # unwinding rules, so a 32- or 64-byte vector it spills there may be misaligned: the
    # assembler turns every aligned vector move into its unaligned form, which accepts any
    # address at the same speed on aligned data.
    if(MINGW)
        target_compile_options(${target} PRIVATE -Wa,-muse-unaligned-vector-move)
    endif()
    if(ZARVEL_WERROR)
        set_target_properties(${target} PROPERTIES COMPILE_WARNING_AS_ERROR ON)
    endif()
endfunction()

# Code that ends up inside Zarvel.ofx: position independent and hidden by default, so that the
# library exports nothing but its two entry points.
function(zarvel_plugin_code target)
    set_target_properties(${target} PROPERTIES
        POSITION_INDEPENDENT_CODE ON
        CXX_VISIBILITY_PRESET hidden
        VISIBILITY_INLINES_HIDDEN ON)
endfunction()
