# Prints the size of FILE after the build, against the 17.5 KiB target.
file(SIZE "${FILE}" size)
get_filename_component(name "${FILE}" NAME)
message(STATUS "${name}: ${size} bytes (target: at most 17920)")
