# Run by CPack on the staged tree before it is packed (CPACK_PRE_BUILD_SCRIPTS).
set(stage "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
if(NOT IS_DIRECTORY "${stage}/opt/vantrel/bin")
  message(FATAL_ERROR "stage.cmake: no ${stage}/opt/vantrel/bin")
endif()
set(root "${stage}/opt/vantrel")

# Test and development pieces stay out of an operator's machine.
file(REMOVE "${root}/bin/vantrel-testgateway")
file(REMOVE_RECURSE "${root}/include")

# The shipped settings become the templates postinst copies to /etc/opt/vantrel.
file(MAKE_DIRECTORY "${root}/share")
file(RENAME "${root}/localconfig" "${root}/share/localconfig")

# The root's writable folders, where the program already looks for them.
file(CREATE_LINK /etc/opt/vantrel "${root}/localconfig" SYMBOLIC)
foreach(folder log data tmp Bullet sshbrev sshbrev_s)
  file(CREATE_LINK /var/opt/vantrel/${folder} "${root}/${folder}" SYMBOLIC)
endforeach()
# apt owns bin/: the program's self-update is refused here.
file(WRITE "${root}/package-managed" "vantrel ${CPACK_VANTREL_VERSION}: installed and upgraded by apt\n")

# The unit, installed but not enabled.
file(MAKE_DIRECTORY "${stage}/lib/systemd/system")
file(COPY "${CPACK_VANTREL_PACKAGING_DIR}/vantrel-serve.service"
     DESTINATION "${stage}/lib/systemd/system")

# Documentation Debian asks of every package.
set(doc "${stage}/usr/share/doc/vantrel")
file(MAKE_DIRECTORY "${doc}")
file(COPY "${CPACK_VANTREL_PACKAGING_DIR}/deb/copyright" DESTINATION "${doc}")
execute_process(COMMAND gzip -9nc "${CPACK_VANTREL_PACKAGING_DIR}/deb/changelog"
                OUTPUT_FILE "${doc}/changelog.gz" RESULT_VARIABLE zipped)
if(NOT zipped EQUAL 0)
  message(FATAL_ERROR "stage.cmake: gzip failed")
endif()
set(overrides "${stage}/usr/share/lintian/overrides")
file(MAKE_DIRECTORY "${overrides}")
file(COPY_FILE "${CPACK_VANTREL_PACKAGING_DIR}/deb/lintian-overrides" "${overrides}/vantrel")

# Modes as a package ships them, whatever the builder's umask.
file(GLOB_RECURSE staged LIST_DIRECTORIES true "${stage}/*")
foreach(path ${staged})
  if(IS_SYMLINK "${path}")
    continue()
  endif()
  if(IS_DIRECTORY "${path}")
    file(CHMOD "${path}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
         GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endif()
endforeach()
foreach(path ${doc}/copyright ${doc}/changelog.gz ${overrides}/vantrel
        ${stage}/lib/systemd/system/vantrel-serve.service ${root}/package-managed)
  file(CHMOD "${path}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endforeach()
