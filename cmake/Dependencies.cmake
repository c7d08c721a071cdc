# Imported targets for the Debian packages scripts/install-deps.sh installs.
find_package(PkgConfig REQUIRED)
pkg_check_modules(APR REQUIRED IMPORTED_TARGET apr-1)
pkg_check_modules(APRUTIL REQUIRED IMPORTED_TARGET apr-util-1)
pkg_check_modules(SQLITE3 REQUIRED IMPORTED_TARGET sqlite3)
pkg_check_modules(EXPAT REQUIRED IMPORTED_TARGET expat)
pkg_check_modules(LOG4CXX REQUIRED IMPORTED_TARGET liblog4cxx)
pkg_check_modules(TAGLIB REQUIRED IMPORTED_TARGET taglib)
pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET libavformat libavcodec libavutil)
# The programs load ffmpeg when they first need it (MSCommon/MSFFMPEGLibrary)
# and compile against its headers only.
add_library(ffmpeg_headers INTERFACE)
target_include_directories(ffmpeg_headers INTERFACE ${FFMPEG_INCLUDE_DIRS})
target_compile_options(ffmpeg_headers INTERFACE ${FFMPEG_CFLAGS_OTHER})
pkg_check_modules(CURL REQUIRED IMPORTED_TARGET libcurl)
# libcurl too is loaded for the first transfer (Common/CommonCurlLibrary), by
# the soname its headers' version gives.
add_library(curl_headers INTERFACE)
target_include_directories(curl_headers INTERFACE ${CURL_INCLUDE_DIRS})
pkg_check_modules(MAGICKCORE REQUIRED IMPORTED_TARGET MagickCore)
# MagickCore too is loaded when first needed (MSCommon/MSMagickLibrary), by
# the library name its pkg-config file gives.
add_library(magick_headers INTERFACE)
target_include_directories(magick_headers SYSTEM INTERFACE ${MAGICKCORE_INCLUDE_DIRS})
target_compile_options(magick_headers INTERFACE ${MAGICKCORE_CFLAGS_OTHER})
list(GET MAGICKCORE_LIBRARIES 0 ML_MAGICKCORE_LIBRARY)
target_compile_definitions(magick_headers INTERFACE ML_MAGICKCORE_LIBRARY="${ML_MAGICKCORE_LIBRARY}")
find_package(Threads REQUIRED)
find_package(GTest REQUIRED)

# Adds a static library made of every source in the calling folder.
# Each folder group is one library; the folder is its include root.
function(ml_folder_library name)
  cmake_parse_arguments(ARG "" "" "LINK" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${ML_WARNINGS})
  target_link_libraries(${name} PUBLIC ${ARG_LINK})
endfunction()

# Adds one GoogleTest executable made of every test source in the calling
# folder, discovered by CTest.
function(ml_test_suite name)
  cmake_parse_arguments(ARG "" "" "LINK" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_executable(${name} ${sources})
  target_compile_options(${name} PRIVATE ${ML_WARNINGS})
  target_link_libraries(${name} PRIVATE ${ARG_LINK} testsupport GTest::gtest GTest::gtest_main)
  include(GoogleTest)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endfunction()
