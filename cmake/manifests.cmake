# Renders the winget manifests (version, installer, defaultLocale) and a
# Scoop manifest for the Windows release zip, from the zip itself:
#   cmake -DZIP=tamsor-1.0.0-win64.zip -DURL=<where the zip is published>
#         -DHOMEPAGE=<project page> [-DIDENTIFIER=Publisher.Package]
#         [-DOUT=manifests] -P cmake/manifests.cmake
# The version comes from the zip's name, the path of tamsor.exe from its
# listing, the hash from its bytes; the description and the license from
# the project's own files.
foreach(required IN ITEMS ZIP URL HOMEPAGE)
  if(NOT ${required})
    message(FATAL_ERROR "manifests.cmake: give -D${required}=...")
  endif()
endforeach()
if(NOT IDENTIFIER)
  set(IDENTIFIER tamsor.tamsor)
endif()
if(NOT OUT)
  set(OUT manifests)
endif()

get_filename_component(zip_name ${ZIP} NAME)
if(NOT zip_name MATCHES "^tamsor-([0-9]+\\.[0-9]+\\.[0-9]+)-win64\\.zip$")
  message(FATAL_ERROR "manifests.cmake: ${zip_name} is no tamsor-X.Y.Z-win64.zip")
endif()
set(version ${CMAKE_MATCH_1})
if(NOT URL MATCHES "/${zip_name}$")
  message(FATAL_ERROR "manifests.cmake: ${URL} does not end in /${zip_name}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${ZIP}
                OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
if(failed OR NOT listing MATCHES "(^|\n)(([^/\n]+)/)?tamsor\\.exe\n")
  message(FATAL_ERROR "manifests.cmake: no tamsor.exe in ${ZIP}")
endif()
set(folder "${CMAKE_MATCH_3}")
file(SHA256 ${ZIP} sha256)
string(TOUPPER ${sha256} sha256_upper)

get_filename_component(root ${CMAKE_CURRENT_LIST_DIR} DIRECTORY)
file(READ ${root}/CMakeLists.txt project_file)
string(REGEX MATCH "DESCRIPTION \"([^\"]+)\"" found "${project_file}")
set(description "${CMAKE_MATCH_1}")
file(STRINGS ${root}/LICENSE license LIMIT_COUNT 1)
string(REGEX REPLACE " License$" "" license "${license}")

# A YAML value in single quotes, where a quote is doubled.
function(yaml_quote var text)
  string(REPLACE "'" "''" text "${text}")
  set(${var} "'${text}'" PARENT_SCOPE)
endfunction()
yaml_quote(q_description "${description}")
yaml_quote(q_url "${URL}")
yaml_quote(q_homepage "${HOMEPAGE}")
if(folder)
  set(exe_path "${folder}\\tamsor.exe")
else()
  set(exe_path "tamsor.exe")
endif()
yaml_quote(q_exe_path "${exe_path}")

set(manifest_version 1.10.0)
set(head "PackageIdentifier: ${IDENTIFIER}\nPackageVersion: ${version}\n")
set(winget ${OUT}/winget)
file(WRITE ${winget}/${IDENTIFIER}.yaml
"# yaml-language-server: $schema=https://aka.ms/winget-manifest.version.${manifest_version}.schema.json
${head}DefaultLocale: en-US
ManifestType: version
ManifestVersion: ${manifest_version}
")
file(WRITE ${winget}/${IDENTIFIER}.installer.yaml
"# yaml-language-server: $schema=https://aka.ms/winget-manifest.installer.${manifest_version}.schema.json
${head}InstallerType: zip
NestedInstallerType: portable
NestedInstallerFiles:
- RelativeFilePath: ${q_exe_path}
  PortableCommandAlias: tamsor
Installers:
- Architecture: x64
  InstallerUrl: ${q_url}
  InstallerSha256: ${sha256_upper}
ManifestType: installer
ManifestVersion: ${manifest_version}
")
file(WRITE ${winget}/${IDENTIFIER}.locale.en-US.yaml
"# yaml-language-server: $schema=https://aka.ms/winget-manifest.defaultLocale.${manifest_version}.schema.json
${head}PackageLocale: en-US
Publisher: The tamsor developers
PackageName: tamsor
PackageUrl: ${q_homepage}
License: ${license}
ShortDescription: ${q_description}
Moniker: tamsor
Tags:
- timer
- benchmark
- command-line
ManifestType: defaultLocale
ManifestVersion: ${manifest_version}
")

# Scoop: the same zip, offered to 64-bit Windows alone; autoupdate finds the
# next one by its version. Laid out as bucket files are (4-space indents,
# CRLF line ends, no trailing blanks), which a bucket's tests require.
string(REPLACE "${version}" "$version" auto_url "${URL}")
string(REPLACE "${version}" "$version" auto_folder "${folder}")
# A JSON string, or an extract_dir member at INDENT where the zip has a folder.
function(json_quote var text)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  set(${var} "\"${text}\"" PARENT_SCOPE)
endfunction()
function(extract_dir_member var indent folder)
  set(${var} "" PARENT_SCOPE)
  if(folder)
    json_quote(quoted "${folder}")
    set(${var} ",\n${indent}\"extract_dir\": ${quoted}" PARENT_SCOPE)
  endif()
endfunction()
foreach(name IN ITEMS version description HOMEPAGE license URL sha256 auto_url)
  json_quote(json_${name} "${${name}}")
endforeach()
extract_dir_member(extract_dir "            " "${folder}")
extract_dir_member(auto_extract_dir "                " "${auto_folder}")
string(CONFIGURE [=[{
    "version": @json_version@,
    "description": @json_description@,
    "homepage": @json_HOMEPAGE@,
    "license": @json_license@,
    "architecture": {
        "64bit": {
            "url": @json_URL@,
            "hash": @json_sha256@@extract_dir@
        }
    },
    "bin": "tamsor.exe",
    "checkver": {
        "github": @json_HOMEPAGE@
    },
    "autoupdate": {
        "architecture": {
            "64bit": {
                "url": @json_auto_url@@auto_extract_dir@
            }
        }
    }
}
]=] scoop @ONLY)
string(JSON ignored ERROR_VARIABLE invalid TYPE "${scoop}")
if(invalid)
  message(FATAL_ERROR "manifests.cmake: the Scoop manifest is no JSON: ${invalid}")
endif()
string(REPLACE "\n" "\r\n" scoop "${scoop}")
file(WRITE ${OUT}/scoop/tamsor.json "${scoop}")
message(STATUS "manifests for ${zip_name} (SHA256 ${sha256}) in ${OUT}")
