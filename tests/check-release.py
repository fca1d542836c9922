#!/usr/bin/env python3
"""Checks what a release is made of.

  check-release.py workflows DIR   the workflow files parse as YAML and hold
                                   the jobs the README promises
  check-release.py manifests ZIP   the manifests rendered for ZIP hold the
                                   fields winget and Scoop require, the zip's
                                   SHA256, and a path to tamsor.exe in it
"""
import hashlib, json, os, subprocess, sys, tempfile, zipfile
import yaml

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def check(condition, what):
    if not condition:
        sys.exit("check-release: " + what)


def workflows(folder):
    # file: (job, trigger, text one of its steps must run)
    expected = {"ubuntu.yml": ("test", "push", ".ci/run"),
                "windows.yml": ("msvc", "push", "ctest --test-dir build"),
                "release.yml": ("release", "push", "cmake/manifests.cmake")}
    for name, (job, trigger, command) in expected.items():
        with open(os.path.join(folder, name)) as f:
            flow = yaml.safe_load(f)
        on = flow.get("on", flow.get(True))  # YAML 1.1 reads `on` as true
        check(trigger in on, f"{name} is not run on {trigger}")
        steps = flow["jobs"][job]["steps"]
        check(flow["jobs"][job]["runs-on"], f"{name}: {job} runs nowhere")
        runs = "\n".join(step.get("run", "") for step in steps)
        check(command in runs, f"{name}: {job} does not run {command}")
    windows = open(os.path.join(folder, "windows.yml")).read()
    check(" -G " not in windows, "windows.yml names a generator")
    tags = yaml.safe_load(open(os.path.join(folder, "release.yml")))[True]
    check(tags["push"]["tags"] == ["v*"], "release.yml is not run on v* tags")
    print("workflows:", ", ".join(expected), "parse, with their jobs")


def manifests(zip_path):
    name = os.path.basename(zip_path)
    url = "https://example.org/tamsor/releases/download/v1/" + name
    out = tempfile.mkdtemp()
    subprocess.run(["cmake", "-DZIP=" + zip_path, "-DURL=" + url,
                    "-DHOMEPAGE=https://example.org/tamsor", "-DOUT=" + out,
                    "-P", os.path.join(ROOT, "cmake/manifests.cmake")],
                   check=True, stdout=subprocess.DEVNULL)
    sha256 = hashlib.sha256(open(zip_path, "rb").read()).hexdigest()
    inside = set(zipfile.ZipFile(zip_path).namelist())
    version = name.split("-")[1]

    ident = "tamsor.tamsor"
    docs = {}
    for kind, suffix in (("version", ""), ("installer", ".installer"),
                         ("defaultLocale", ".locale.en-US")):
        with open(f"{out}/winget/{ident}{suffix}.yaml") as f:
            doc = docs[kind] = yaml.safe_load(f)
        check(doc["ManifestType"] == kind, f"{kind}: ManifestType")
        check(tuple(map(int, doc["ManifestVersion"].split("."))) >= (1, 6, 0),
              f"{kind}: ManifestVersion {doc['ManifestVersion']} is old")
        check(doc["PackageIdentifier"] == ident, f"{kind}: PackageIdentifier")
        check(str(doc["PackageVersion"]) == version, f"{kind}: PackageVersion")
    check(docs["version"]["DefaultLocale"] == "en-US", "DefaultLocale")
    installer = docs["installer"]
    check(installer["InstallerType"] == "zip" and
          installer["NestedInstallerType"] == "portable", "not a portable zip")
    [nested] = installer["NestedInstallerFiles"]
    check(nested["RelativeFilePath"].replace("\\", "/") in inside,
          f"{nested['RelativeFilePath']} is not in {name}")
    check(nested["PortableCommandAlias"] == "tamsor", "PortableCommandAlias")
    [package] = installer["Installers"]
    check(package["Architecture"] == "x64", "Architecture")
    check(package["InstallerUrl"] == url, "InstallerUrl")
    check(package["InstallerSha256"].lower() == sha256, "InstallerSha256")
    for field in ("Publisher", "PackageName", "License", "ShortDescription"):
        check(docs["defaultLocale"].get(field), f"defaultLocale lacks {field}")

    scoop = json.load(open(f"{out}/scoop/tamsor.json"))
    for field in ("description", "homepage", "license", "checkver"):
        check(scoop.get(field), f"scoop lacks {field}")
    check(scoop["version"] == version and scoop["url"] == url and
          scoop["hash"] == sha256, "scoop: version, url or hash")
    folder = scoop.get("extract_dir")
    check((f"{folder}/{scoop['bin']}" if folder else scoop["bin"]) in inside,
          f"scoop's bin is not in {name}")
    auto = scoop["autoupdate"]
    check(auto["url"].replace("$version", version) == url and
          auto["extract_dir"].replace("$version", version) ==
          scoop["extract_dir"], "scoop's autoupdate does not give this zip")
    print(f"manifests for {name}: winget {installer['ManifestVersion']} and "
          f"Scoop, SHA256 {sha256}")


if __name__ == "__main__":
    {"workflows": workflows, "manifests": manifests}[sys.argv[1]](sys.argv[2])
