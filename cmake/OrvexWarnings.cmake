# One place for the warning set of every target; ORVEX_WERROR turns them into errors.
function(orvex_set_warnings target)
    target_compile_options(${target} PRIVATE
        -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
        -Woverloaded-virtual -Wnull-dereference -Wimplicit-fallthrough -Wformat=2)
    # GCC 12 reports impossible overlaps inside std::string concatenation at -O3 (its bug 105329).
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
        target_compile_options(${target} PRIVATE -Wno-restrict)
    endif()
    if(ORVEX_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
