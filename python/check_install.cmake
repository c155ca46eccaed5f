# Installs the Python component under a scratch prefix and checks that the interpreter, given
# only that site folder, imports the installed package (not the one of the build folder).
# cmake -DPREFIX=... -DBUILD=... -DPYTHON=... -DSITE=... -P check_install.cmake
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX} --component python
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install of the python component failed")
endif()
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env PYTHONPATH=${PREFIX}/${SITE} PYTHONDONTWRITEBYTECODE=1
          ${PYTHON} -c "import kelvara, sys; print(kelvara.__file__); sys.exit(0 if kelvara.__file__.startswith(sys.argv[1]) and callable(kelvara.open) else 1)" ${PREFIX}
  WORKING_DIRECTORY ${PREFIX}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the installed package is not the one imported from ${PREFIX}/${SITE}")
endif()
file(REMOVE_RECURSE ${PREFIX})
