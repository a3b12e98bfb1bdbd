# vesk_warnings(target): the project's warning set. The build is kept warning-free.
function(vesk_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-missing-field-initializers)
endfunction()
