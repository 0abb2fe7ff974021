<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>TdvFilters</name>
    <message>
        <source>Presentations</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Vellum Project</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Log File</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>TdvFrmAbout</name>
    <message>
        <source>Copyright © 2024 Vellum Converter developers</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Licence: all rights reserved by the Vellum Converter developers.

Vellum Converter converts through LibreOffice (https://www.libreoffice.org), which runs as a program of its own and is licensed under the Mozilla Public License 2.0; it reaches it through the LibreOffice UNO runtime libraries under the same licence.

Its window is built with Qt %1 (https://www.qt.io), used under the GNU Lesser General Public License version 3.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>About &amp;Qt</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Close</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>About %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>TdvFrmCfg</name>
    <message>
        <source>True or False</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>a number from %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>a number from %1 to %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>text</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>a path</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>one of %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>empty</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1; default %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Config</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>One option per line, written Name=Value. Lines of other names are kept.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Please add/delete/modify the options by yourself</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>As text</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Ok</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Click here to see the details about the options</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>TdvFrmMain</name>
    <message>
        <source>&amp;Convert</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Convert the file(s) instantly</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sto&amp;p</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stop the run; the next Convert starts over</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Open</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open a batch project</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;New</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>New a batch project</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Config</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Config the options of the batch project</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sa&amp;ve</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Save the batch project</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Save &amp;As</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Save the batch project as ...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Check &amp;Update</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Home</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Support</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Send us e-mail for support</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>About</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Search</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Search files from the source folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>V&amp;iew</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>View the convert result</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Start</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Paus&amp;e</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Let the workers finish their files, then pause</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Retry &amp;Failed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Convert the failed files again</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Copy</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copy the selected rows as lines of the list</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Filter</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Show only the rows that hold a text</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Choose or drag &amp; drop source folder or file(s)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Source</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Choose a folder and click &quot;Search&quot; to list files</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Files</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Choose file(s) and click &quot;Convert&quot; to convert them</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Su&amp;b folders</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Choose or drag &amp; drop target folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Target</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Choose a target folder to save the converted file(s)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Resume</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>All files</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Failed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Converted</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Waiting</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Show all rows or only those of one outcome</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Filter by path or message (%1)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Drag &amp; drop file(s) here and click &quot;Convert&quot; to convert them</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Browse Files</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>View  Source</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open Source</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>View  Output</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Export the List</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A conversion is running. Stop it and quit?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The project %1 has changes that are not saved. Save them before closing?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Untitled</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The window&apos;s state is not kept for the next start: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No file of the list has failed.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The help is not installed: %1 is missing.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A conversion is running: drop the files again once it has ended.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>There is one target folder: %1 was taken, the other paths were not.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 is no presentation; it was not listed.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 files are no presentations and were not listed: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No presentations found in what was dropped.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 of %2, %3 failed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: finishing 1 file</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: finishing %2 files</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 elapsed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>about %1 left</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Paused: %1. Resume goes on with the files not yet converted.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stopped: %1, %2 not done. Convert lists the source again and starts over.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>took %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Choose what to convert: the Source field is empty.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Choose where the PDF files go: the Target field is empty.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The source folder %1 does not exist.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The source %1 does not exist.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No presentations found in %1 or its sub-folders (pattern %2).</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No presentations found in %1 (pattern %2).</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Pausing</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stopping</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Conversion ended with failures</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Conversion finished</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>TdvItemModel</name>
    <message>
        <source>Waiting</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Converting</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Converted</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Failed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Skipped</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Not done</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Skipped: its PDF was there already</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Converting…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>File Name</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Result</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>TdvOptions</name>
    <message>
        <source>A folder and a pattern (/in/*.ppt?), one file, a file: address or an http(s) address</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Search the sub-folders of the source folder too</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Never list hidden files (hidden folders are never searched)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A regular expression that every listed path must also match</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The target folder; created when missing</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Keep each presentation&apos;s sub-folder below the target folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>An existing PDF: True replaces it, False writes -vellum-NAME.pdf, Skip leaves it</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Give each PDF the times of its presentation</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Delete a presentation once its PDF is written (never a read-only one)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Append this text to a presentation&apos;s name once its PDF is written</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Export notes pages instead of slides</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open presentations read-only</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Images in the PDF: 0 keeps them as they are; N reduces finer ones to N ppi</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The PDF printer of the printer route</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>On the printer route, wait for another copy&apos;s print job</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Workers, each with its own office process (at most four per core)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Seconds one file may take before its office is stopped and the file fails (0: no limit)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Start a fresh office process after this many files (0: never)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Office listeners to convert on, host:port or local, separated by blanks</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Seconds for reaching a listener and its first answer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Run without a window</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Window: convert at start and close when done</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Window: milliseconds to wait before converting again (0 closes instead)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The run log of a console run, or the list of an unattended windowed run</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Source</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Target</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Conversion</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Offices</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Unattended runs</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>TdvSession</name>
    <message>
        <source>%1 cannot be written</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 is damaged</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
