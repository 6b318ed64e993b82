# Windows build (MinGW-w64): the stub, the framework layer, the reference module, the test robot and
# the Windows unit tests. The i686 build is the release; the x86_64 twin is what runs under wine64.
enable_language(RC)

set(TESSEL_WIN_LIBS comctl32 shell32 shlwapi ole32 oleaut32 uuid advapi32 user32 gdi32)
# Programs name their system libraries themselves; nothing is added behind their back.
set(CMAKE_C_STANDARD_LIBRARIES "-lkernel32 -ladvapi32" CACHE STRING "" FORCE)
set(CMAKE_CXX_STANDARD_LIBRARIES "-lkernel32 -ladvapi32" CACHE STRING "" FORCE)
include(cmake/delayload.cmake)
# One static image per program: no MinGW runtime DLLs to ship or to plant beside it.
set(TESSEL_STATIC_LINK -static -static-libgcc -static-libstdc++)
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
add_compile_options(-municode)
# The stub raises no exceptions and needs no thread-safe statics (its one worker thread touches
# none): without them the C++ runtime's exception and threading machinery stays out of the image.
set(TESSEL_LEAN_FLAGS -fno-exceptions -fno-rtti -fno-threadsafe-statics -fno-asynchronous-unwind-tables
    -ffunction-sections -fdata-sections -D__USE_MINGW_ANSI_STDIO=0)

# The framework layer that stands in for the dialog-application framework.
file(GLOB TESSEL_FW_SOURCES CONFIGURE_DEPENDS fw/*.cpp)
# WinMain goes straight into each GUI program: from a library the linker would meet it too late.
list(FILTER TESSEL_FW_SOURCES EXCLUDE REGEX "/fw/AppMain\\.cpp$")
set(TESSEL_FW_WINMAIN ${CMAKE_SOURCE_DIR}/fw/AppMain.cpp)
add_library(tessel_fw STATIC ${TESSEL_FW_SOURCES})
target_include_directories(tessel_fw PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(tessel_fw PRIVATE ${TESSEL_WARNINGS} ${TESSEL_LEAN_FLAGS})
# System libraries are linked by each program: the stub binds most of them on first call.

# Everything of the stub but its entry routine, so that tests link the same code.
file(GLOB TESSEL_STUB_SOURCES CONFIGURE_DEPENDS
  app/*.cpp package/*.cpp settings/*.cpp install/*.cpp ui/*.cpp)
list(FILTER TESSEL_STUB_SOURCES EXCLUDE REGEX "/app/(EntryPoint|AppObject|LeanRuntime)\\.cpp$")
add_library(tessel_stub_lib STATIC ${TESSEL_STUB_SOURCES})
target_compile_options(tessel_stub_lib PRIVATE ${TESSEL_WARNINGS} ${TESSEL_LEAN_FLAGS})
target_compile_options(tessel_portable PRIVATE ${TESSEL_LEAN_FLAGS})
target_link_libraries(tessel_stub_lib PUBLIC tessel_fw tessel_portable)

# Resources: string tables, dialogs, icon, manifest.
configure_file(res/tessel.manifest.in ${CMAKE_BINARY_DIR}/res/tessel.manifest @ONLY)
set(TESSEL_RC ${CMAKE_SOURCE_DIR}/res/tessel.rc)

add_executable(tessel-stub WIN32 app/EntryPoint.cpp app/AppObject.cpp app/LeanRuntime.cpp ${TESSEL_FW_WINMAIN} ${TESSEL_RC})
target_include_directories(tessel-stub PRIVATE ${CMAKE_BINARY_DIR}/res ${CMAKE_SOURCE_DIR}/res)
target_compile_options(tessel-stub PRIVATE ${TESSEL_WARNINGS} ${TESSEL_LEAN_FLAGS})
# The delay-import libraries come after every library of ours, so that they resolve all of them.
target_link_libraries(tessel-stub PRIVATE tessel_stub_lib tessel_fw tessel_portable ${TESSEL_DELAY_LIBS} delayimp uuid advapi32)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(TESSEL_ENTRY _HardenDllSearch)
else()
  set(TESSEL_ENTRY HardenDllSearch)
endif()
target_link_options(tessel-stub PRIVATE ${TESSEL_STATIC_LINK} -municode -mwindows
  -Wl,-e,${TESSEL_ENTRY} -Wl,--gc-sections $<$<CONFIG:MinSizeRel,Release>:-s>)
set_target_properties(tessel-stub PROPERTIES OUTPUT_NAME tessel-stub)

# Windows unit tests, run under wine64 through the emulator script.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh)
file(GLOB TESSEL_WIN_TESTS CONFIGURE_DEPENDS tests/win/*.cpp)
if(TESSEL_WIN_TESTS AND TARGET gtest)
  add_executable(tessel_win_tests ${TESSEL_WIN_TESTS} ${TESSEL_RC})
  target_include_directories(tessel_win_tests PRIVATE ${CMAKE_BINARY_DIR}/res ${CMAKE_SOURCE_DIR}/res)
  target_compile_options(tessel_win_tests PRIVATE ${TESSEL_WARNINGS})
  target_link_libraries(tessel_win_tests PRIVATE tessel_stub_lib gtest ${TESSEL_WIN_LIBS})
  target_link_options(tessel_win_tests PRIVATE ${TESSEL_STATIC_LINK} -municode)
  set_target_properties(tessel_win_tests PROPERTIES CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh)
  # Real cabinets for the tests, made with gcab (and a small writer for names gcab refuses).
  set(TESSEL_FIXTURES_DIR ${CMAKE_BINARY_DIR}/fixtures)
  file(GLOB TESSEL_FIXTURE_SCRIPTS CONFIGURE_DEPENDS tests/win/fixtures/*)
  add_custom_command(OUTPUT ${TESSEL_FIXTURES_DIR}/plain.cab
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/win/fixtures/make-cabinets.sh ${TESSEL_FIXTURES_DIR} > /dev/null
    DEPENDS ${TESSEL_FIXTURE_SCRIPTS} VERBATIM)
  add_custom_target(tessel_win_fixtures ALL DEPENDS ${TESSEL_FIXTURES_DIR}/plain.cab)
  add_dependencies(tessel_win_tests tessel_win_fixtures)
  string(REPLACE "/" "\\" TESSEL_FIXTURES_WIN "Z:${TESSEL_FIXTURES_DIR}")
  include(GoogleTest)
  gtest_discover_tests(tessel_win_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
    PROPERTIES ENVIRONMENT "TESSEL_FIXTURES=${TESSEL_FIXTURES_WIN}")
endif()

foreach(dir module tests/robot tests/e2e)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endforeach()
