# The system's own code: no exceptions, no run-time type information, and
# includes from the top of the tree ("support/files.h").
function(vorn_system_target target)
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()
