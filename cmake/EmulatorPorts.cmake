# Development and test builds (QX_USE_EMULATOR, set by scripts/build.sh) talk
# to the local speech service emulator instead of the service. Each build tree
# gets ports of its own, picked free when the tree is first configured and
# kept in its cache, so the test runs of two checkouts on one machine never
# meet. -DQX_EMU_TOKEN_PORT=... -DQX_EMU_SYNTH_PORT=... choose them by hand.
# The service hosts follow the ports.
option(QX_USE_EMULATOR "Point the service hosts at the local speech service emulator on this tree's ports" OFF)

if(QX_USE_EMULATOR)
  if(NOT QX_EMU_TOKEN_PORT OR NOT QX_EMU_SYNTH_PORT)
    execute_process(COMMAND ${QX_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/free_ports.py ${CMAKE_BINARY_DIR} 2
                    OUTPUT_VARIABLE qx_ports RESULT_VARIABLE qx_ports_status)
    if(NOT qx_ports_status EQUAL 0)
      message(FATAL_ERROR "no free ports for the speech service emulator")
    endif()
    list(GET qx_ports 0 qx_token_port)
    list(GET qx_ports 1 qx_synth_port)
    set(QX_EMU_TOKEN_PORT ${qx_token_port} CACHE STRING "loopback port of the emulator's token endpoint (HTTPS)" FORCE)
    set(QX_EMU_SYNTH_PORT ${qx_synth_port} CACHE STRING "loopback port of the emulator's synthesis endpoint (HTTPS)" FORCE)
    message(STATUS "speech service emulator ports of this tree: token ${QX_EMU_TOKEN_PORT}, synthesis ${QX_EMU_SYNTH_PORT}")
  endif()
  set(QX_TOKEN_HOST     "localhost:${QX_EMU_TOKEN_PORT}" CACHE STRING "host[:port] of the token endpoint (HTTPS)" FORCE)
  set(QX_SYNTHESIS_HOST "localhost:${QX_EMU_SYNTH_PORT}" CACHE STRING "host[:port] of the synthesis endpoint (HTTPS)" FORCE)
  set(QX_DOC_HOST       "localhost:${QX_EMU_TOKEN_PORT}" CACHE STRING "host[:port] of the documentation page (HTTPS)" FORCE)
endif()
