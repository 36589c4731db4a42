# Shared compile settings and the source selection rule of the tree:
#   name_win.cpp   Win32 implementation, compiled only for Windows
#   name_posix.cpp POSIX implementation, compiled only natively
#   anything else  portable, compiled on both toolchains, no Win32 headers

add_library(kavo_options INTERFACE)
target_compile_options(kavo_options INTERFACE -Wall -Wextra -Werror)
target_include_directories(kavo_options INTERFACE "${CMAKE_SOURCE_DIR}" "${KAVO_THIRD_PARTY_INCLUDE}")
target_compile_definitions(kavo_options INTERFACE XXH_INLINE_ALL KAVO_VERSION="4.4.0")
if(WIN32)
    target_compile_definitions(kavo_options INTERFACE UNICODE _UNICODE _WIN32_WINNT=0x0601
                                                      WINVER=0x0601 NOMINMAX)
    target_link_options(kavo_options INTERFACE -static -Wl,--large-address-aware)
    # g++ 12 reports false -Wrestrict errors in std::basic_string at -O3 (GCC bug 105329).
    target_compile_options(kavo_options INTERFACE -Wno-restrict)
    # Programs with wide entry points (wmain, wWinMain) add -municode themselves.
else()
    if(KAVO_SANITIZE)
        set(_san -fsanitize=address,undefined -fno-omit-frame-pointer
                 -fno-sanitize-recover=undefined)
        target_compile_options(kavo_options INTERFACE ${_san})
        target_link_options(kavo_options INTERFACE ${_san})
    endif()
    if(KAVO_FUZZ)
        target_compile_options(kavo_options INTERFACE -fsanitize=fuzzer-no-link,address,undefined)
        target_link_options(kavo_options INTERFACE -fsanitize=address,undefined)
    endif()
endif()

# kavo_sources(OUT dir...) collects the sources of the given folders for this toolchain.
function(kavo_sources out)
    set(result)
    foreach(dir IN LISTS ARGN)
        file(GLOB found CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/${dir}/*.cpp")
        foreach(f IN LISTS found)
            get_filename_component(n "${f}" NAME_WE)
            if(n MATCHES "_win(_test)?$" AND NOT WIN32)
                continue()
            endif()
            if(n MATCHES "_posix(_test)?$" AND WIN32)
                continue()
            endif()
            if(n MATCHES "^program(_win|_posix)?$")
                continue()   # entry points of the programs
            endif()
            list(APPEND result "${f}")
        endforeach()
    endforeach()
    set(${out} ${result} PARENT_SCOPE)
endfunction()
