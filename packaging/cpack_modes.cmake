# Run by cpack on the staged files, before it packs them: every folder 0755, every program
# 0755 and every other file 0644, so that the packages are the same bytes whatever the umask
# of the one who builds them (folders made by the install rules take the umask's mode).
file(GLOB_RECURSE zorflash_staged LIST_DIRECTORIES true "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(zorflash_path IN LISTS zorflash_staged)
    if(IS_SYMLINK "${zorflash_path}")
        continue()
    elseif(IS_DIRECTORY "${zorflash_path}")
        file(CHMOD "${zorflash_path}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
             GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    else()
        execute_process(COMMAND test -x "${zorflash_path}" RESULT_VARIABLE zorflash_not_program)
        if(zorflash_not_program)
            file(CHMOD "${zorflash_path}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
        else()
            file(CHMOD "${zorflash_path}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
                 GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
        endif()
    endif()
endforeach()
