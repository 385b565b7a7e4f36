# QUILLON_SANITIZE=address builds with AddressSanitizer and
# UndefinedBehaviorSanitizer, QUILLON_SANITIZE=thread with ThreadSanitizer.
set(QUILLON_SANITIZE "" CACHE STRING "address, thread or empty")

if(QUILLON_SANITIZE STREQUAL "address")
    set(_san -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
elseif(QUILLON_SANITIZE STREQUAL "thread")
    set(_san -fsanitize=thread -fno-omit-frame-pointer)
elseif(NOT QUILLON_SANITIZE STREQUAL "")
    message(FATAL_ERROR "QUILLON_SANITIZE must be address, thread or empty")
endif()

if(_san)
    add_compile_options(${_san})
    add_link_options(${_san})
endif()

# Without a sanitizer the Linux programs get Debian's hardening: checked libc
# calls where sizes are known, stack protection, and a read-only GOT.
if(NOT _san AND NOT WIN32)
    add_compile_options(-fstack-protector-strong
                        $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
    add_link_options(-Wl,-z,relro -Wl,-z,now)
endif()
