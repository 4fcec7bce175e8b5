# Compiler warnings for every target of the kit; KIT_WERROR (on in all presets)
# turns them into errors so that CI rejects new warnings.
add_compile_options(-Wall -Wextra)
if(KIT_WERROR)
    add_compile_options(-Werror)
endif()
