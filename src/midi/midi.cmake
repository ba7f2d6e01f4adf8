# pv_midi: port interface, device names, opening, settings file.
add_library(pv_midi STATIC
  ${CMAKE_CURRENT_LIST_DIR}/device_enum.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device_opening.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device_watcher.cpp
  ${CMAKE_CURRENT_LIST_DIR}/output_sender.cpp
  ${CMAKE_CURRENT_LIST_DIR}/realtime_priority.cpp
  ${CMAKE_CURRENT_LIST_DIR}/settings_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sysex_writing.cpp
)
target_include_directories(pv_midi PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(pv_midi PUBLIC pv_platform Threads::Threads)

# pv_midi_memory: the in-memory backend for tests and benchmarks.
add_library(pv_midi_memory STATIC
  ${CMAKE_CURRENT_LIST_DIR}/memory_midi.cpp
)
target_link_libraries(pv_midi_memory PUBLIC pv_midi pv_platform Threads::Threads)

# pv_midi_system: RtMidi and FluidSynth backends.
pkg_check_modules(PV_RTMIDI REQUIRED IMPORTED_TARGET rtmidi)
pkg_check_modules(PV_FLUIDSYNTH REQUIRED IMPORTED_TARGET fluidsynth)
pkg_check_modules(PV_JACK REQUIRED IMPORTED_TARGET jack)
pkg_check_modules(PV_ALSA REQUIRED IMPORTED_TARGET alsa)
add_library(pv_midi_system STATIC
  ${CMAKE_CURRENT_LIST_DIR}/port_names.cpp
  ${CMAKE_CURRENT_LIST_DIR}/jack_probe.cpp
  ${CMAKE_CURRENT_LIST_DIR}/jack_shared_client.cpp
  ${CMAKE_CURRENT_LIST_DIR}/jack_presence.cpp
  ${CMAKE_CURRENT_LIST_DIR}/jack_output.cpp
  ${CMAKE_CURRENT_LIST_DIR}/jack_input.cpp
  ${CMAKE_CURRENT_LIST_DIR}/rtmidi_ports.cpp
  ${CMAKE_CURRENT_LIST_DIR}/builtin_synth.cpp
  ${CMAKE_CURRENT_LIST_DIR}/system_midi.cpp
)
target_link_libraries(pv_midi_system
  PUBLIC pv_midi pv_platform Threads::Threads
  PRIVATE PkgConfig::PV_RTMIDI PkgConfig::PV_FLUIDSYNTH PkgConfig::PV_JACK PkgConfig::PV_ALSA)
