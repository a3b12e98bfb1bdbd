# Applies VESK_SANITIZE to every target of the build.
if(VESK_SANITIZE)
    add_compile_options(-fsanitize=${VESK_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=${VESK_SANITIZE})
    add_compile_definitions(VESK_SANITIZED=1)
endif()
