# Run by cpack (see release.cmake), with the variables of its CPackConfig.cmake.
execute_process(COMMAND ${CPACK_NARVELOX_WRITE_RELEASE} COMMAND_ERROR_IS_FATAL ANY)
message(STATUS "Release written to ${CPACK_NARVELOX_DIST}")
