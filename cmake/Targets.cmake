# The warnings every target of ours is built with; errors where asked.
function(id3v23fix_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                           -Wsign-conversion -Wold-style-cast -Wnon-virtual-dtor)
  if(ID3V23FIX_WARNINGS_AS_ERRORS)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# A program we ship: our warnings, and linked statically where asked.
function(id3v23fix_program target)
  id3v23fix_warnings(${target})
  if(ID3V23FIX_STATIC)
    target_link_options(${target} PRIVATE -static)
  endif()
endfunction()
