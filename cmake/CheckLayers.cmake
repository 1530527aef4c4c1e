# The folders depend on each other one way only:
#
#   api, platform  <-  lists, store, http, host  <-  engine, update, report  <-  service
#                                                                            <-  console
#
# (engine, update and report are peers: none of the three includes another; the system service
# sits on the engine, and the console, its window for each account, on everything)
#
# and so do platform's own sub-folders, the lowest first:
#
#   text, picture  <-  codepage, program  <-  registry, instance, driver, tls  <-  interception
#
# Each folder below may include only the folders named for it (and itself); a sub-folder of
# platform likewise the sub-folders named for it. tools, tests and benchmarks may include
# anything. Run as: cmake -DSOURCE_DIR=<tree> -P CheckLayers.cmake
# Fails, naming every include that points against the direction.
cmake_minimum_required(VERSION 3.20)
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
set(allowed_update platform lists store http host)
set(allowed_report platform store http host)
set(allowed_console api platform lists store http host engine update report service)
set(allowed_service api platform lists store engine)
set(layers api platform lists store http host engine update report service console)

# platform/<sub-folder>: the other sub-folders it may include. api is the interception
# interface, which only the interception library implements.
set(allowed_platform_text "")
set(allowed_platform_picture "")
set(allowed_platform_codepage text)
set(allowed_platform_program text)
set(allowed_platform_registry text codepage program)
set(allowed_platform_instance text program)
set(allowed_platform_driver text program)
set(allowed_platform_tls text program)
set(allowed_platform_interception text codepage program driver tls api)
set(platform_parts text picture codepage program registry instance driver tls interception)

set(violations "")

# Appends to `violations` each include of a source below `folder` that names a folder of
# `known` other than `self` and not in `allowed`. The folder an include names is its path's
# first part; with `within_platform`, platform's sub-folder ("platform/tls/...": tls), and the
# interface folder api too.
function(check_folder folder self allowed known within_platform)
    file(GLOB_RECURSE sources ${SOURCE_DIR}/${folder}/*.h ${SOURCE_DIR}/${folder}/*.cpp)
    set(found_here "")
    foreach(source ${sources})
        file(STRINGS ${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"[^\"]+/")
        foreach(line ${includes})
            if(within_platform AND line MATCHES "\"platform/([^/\"]+)/")
                set(target ${CMAKE_MATCH_1})
            elseif(within_platform AND NOT line MATCHES "\"api/")
                continue()
            else()
                string(REGEX REPLACE "^[^\"]*\"([^/\"]+)/.*$" "\\1" target "${line}")
            endif()
            list(FIND allowed ${target} permitted)
            list(FIND known ${target} named)
            if(NOT target STREQUAL self AND permitted EQUAL -1 AND NOT named EQUAL -1)
                file(RELATIVE_PATH relative ${SOURCE_DIR} ${source})
                list(APPEND found_here "${relative}: ${line}")
            endif()
        endforeach()
    endforeach()
    set(violations ${violations} ${found_here} PARENT_SCOPE)
endfunction()

foreach(layer ${layers})
    check_folder(${layer} ${layer} "${allowed_${layer}}" "${layers}" FALSE)
endforeach()

# Within platform; a sub-folder that the table does not know is refused, so that a new one
# gets its row.
file(GLOB platform_entries RELATIVE ${SOURCE_DIR}/platform ${SOURCE_DIR}/platform/*)
foreach(part ${platform_entries})
    if(NOT IS_DIRECTORY ${SOURCE_DIR}/platform/${part})
        continue()
    endif()
    if(NOT part IN_LIST platform_parts)
        list(APPEND violations "platform/${part}: a sub-folder without a row in CheckLayers.cmake")
        continue()
    endif()
    check_folder(platform/${part} ${part} "${allowed_platform_${part}}" "${platform_parts};api"
                 TRUE)
endforeach()

if(violations)
    list(JOIN violations "\n  " text)
    message(FATAL_ERROR "Includes against the direction of the folders:\n  ${text}")
endif()
