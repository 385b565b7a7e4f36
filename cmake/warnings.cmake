# Every target of the project builds with the same warnings; CI turns them
# into errors so that both builds stay warning-free.
option(QUILLON_WERROR "Treat warnings as errors" OFF)

add_compile_options(-Wall -Wextra -Wpedantic)
if(QUILLON_WERROR)
    add_compile_options(-Werror)
endif()
