# Helpers shared by the project's CMake files.

# Runs Windows test programs under Wine with the project's prefix (see testing/wine/wine_run.sh).
set(KOVA_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix used to run tests")
set(KOVA_WINE "/usr/lib/wine/wine64" CACHE FILEPATH "Wine loader that runs the tests")
configure_file(${CMAKE_SOURCE_DIR}/testing/wine/wine_run.sh.in ${CMAKE_BINARY_DIR}/wine_run.sh
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE
               @ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine_run.sh)

# kova_library(NAME DIR [LIBS ...]): a static library from every source of one folder
# (tests/ excluded), with the repository root on the include path.
function(kova_library name)
    cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
    file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    if(NOT srcs)
        # A folder whose sources have not been written yet.
        add_library(${name} INTERFACE)
        target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR})
        target_link_libraries(${name} INTERFACE ${ARG_LIBS})
        return()
    endif()
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_LIBS})
endfunction()

# kova_test(NAME [LIBS ...]): one test executable from every source in the folder's tests/,
# registered as one CTest entry that runs under Wine.
function(kova_test name)
    cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
    file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/tests/*.c)
    if(NOT srcs)
        return()
    endif()
    add_executable(${name} ${srcs})
    target_compile_definitions(${name} PRIVATE _GLIBCXX_ASSERTIONS)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} gtest gtest_main)
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
    set_tests_properties(${name} PROPERTIES TIMEOUT 900)
endfunction()

# Imported targets for the libraries built by scripts/deps.sh.
function(kova_import_dep target file)
    if(NOT TARGET ${target})
        add_library(${target} STATIC IMPORTED GLOBAL)
        set_target_properties(${target} PROPERTIES
            IMPORTED_LOCATION ${KOVA_DEPS_PREFIX}/lib/${file}
            INTERFACE_INCLUDE_DIRECTORIES ${KOVA_DEPS_PREFIX}/include)
    endif()
endfunction()
kova_import_dep(dep_zlib libz.a)
kova_import_dep(dep_jpeg libjpeg.a)
kova_import_dep(dep_mbedcrypto libmbedcrypto.a)
