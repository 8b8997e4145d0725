# Installs the project from its build directory into a fresh prefix and
# builds a program against it twice, once through find_package(qbx) and
# once through pkg-config, then runs both on a QBX file.
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DQBX_FILE=... -P check_install.cmake
foreach(var BUILD_DIR WORK_DIR QBX_FILE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# find_package
run(${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR} -B ${WORK_DIR}/consumer
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
run(${WORK_DIR}/consumer/qbx_consumer ${QBX_FILE})
set(expected "${run_output}")
if(NOT expected MATCHES "table UNNAMED: 5 records\nP:NAME=Ada Lovelace\n")
  message(FATAL_ERROR "unexpected output of the consumer:\n${expected}")
endif()

# pkg-config, from the prefix the package was installed into
find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
  execute_process(COMMAND ${PKG_CONFIG} --cflags --libs qbx OUTPUT_VARIABLE flags
                  RESULT_VARIABLE rc OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "pkg-config does not know qbx")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  find_program(CXX NAMES c++ g++ clang++ REQUIRED)
  run(${CXX} ${CMAKE_CURRENT_LIST_DIR}/consumer.cpp -o ${WORK_DIR}/pkg_consumer ${flags})
  run(${WORK_DIR}/pkg_consumer ${QBX_FILE})
  if(NOT run_output STREQUAL expected)
    message(FATAL_ERROR "the pkg-config build reads otherwise:\n${run_output}")
  endif()
endif()
