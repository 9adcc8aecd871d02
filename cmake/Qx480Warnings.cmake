# Warnings on and treated as errors in every target of the project.
function(qx480_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
endfunction()
