# The folders depend on each other one way only:
#
#   api, platform  <-  lists, store, http, host  <-  engine  <-  update, report  <-  console
#
# Each folder below may include only the folders named for it (and itself); tools, tests and
# benchmarks may include anything. Run as: cmake -DSOURCE_DIR=<tree> -P CheckLayers.cmake
# Fails, naming every include that points against the direction.
if(NOT SOURCE_DIR)
    message(FATAL_ERROR "SOURCE_DIR is not set")
endif()

set(allowed_api "")
set(allowed_platform api)
set(allowed_lists platform)
set(allowed_store platform)
set(allowed_http platform)
set(allowed_host platform)
set(allowed_engine api platform lists)
set(allowed_update api platform lists store http host engine)
set(allowed_report api platform lists store http host engine)
set(allowed_console api platform lists store http host engine update report)
set(layers api platform lists store http host engine update report console)

set(violations "")
foreach(layer ${layers})
    file(GLOB_RECURSE sources ${SOURCE_DIR}/${layer}/*.h ${SOURCE_DIR}/${layer}/*.cpp)
    foreach(source ${sources})
        file(STRINGS ${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"[^\"]+/")
        foreach(line ${includes})
            string(REGEX REPLACE "^[^\"]*\"([^/\"]+)/.*$" "\\1" target "${line}")
            if(target STREQUAL layer)
                continue()
            endif()
            list(FIND allowed_${layer} ${target} found)
            list(FIND layers ${target} known)
            if(found EQUAL -1 AND NOT known EQUAL -1)
                file(RELATIVE_PATH relative ${SOURCE_DIR} ${source})
                list(APPEND violations "${relative}: ${line}")
            endif()
        endforeach()
    endforeach()
endforeach()

if(violations)
    list(JOIN violations "\n  " text)
    message(FATAL_ERROR "Includes against the direction of the folders:\n  ${text}")
endif()
