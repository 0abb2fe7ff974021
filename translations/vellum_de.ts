<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>TdvFilterBar</name>
    <message>
        <source>All files</source>
        <translation>Alle Dateien</translation>
    </message>
    <message>
        <source>Failed</source>
        <translation>Fehlgeschlagen</translation>
    </message>
    <message>
        <source>Converted</source>
        <translation>Konvertiert</translation>
    </message>
    <message>
        <source>Waiting</source>
        <translation>Wartend</translation>
    </message>
    <message>
        <source>Show all rows or only those of one outcome</source>
        <translation>Alle Zeilen zeigen oder nur die mit einem Ergebnis</translation>
    </message>
    <message>
        <source>Filter by path or message (%1)</source>
        <translation>Nach Pfad oder Meldung filtern (%1)</translation>
    </message>
</context>
<context>
    <name>TdvFilters</name>
    <message>
        <source>Presentations</source>
        <translation>Präsentationen</translation>
    </message>
    <message>
        <source>Vellum Project</source>
        <translation>Vellum-Projekt</translation>
    </message>
    <message>
        <source>Log File</source>
        <translation>Protokolldatei</translation>
    </message>
</context>
<context>
    <name>TdvFrmAbout</name>
    <message>
        <source>Copyright © 2024 Vellum Converter developers</source>
        <translation>Copyright © 2024 die Entwickler von Vellum Converter</translation>
    </message>
    <message>
        <source>Licence: all rights reserved by the Vellum Converter developers.

Vellum Converter converts through LibreOffice (https://www.libreoffice.org), which runs as a program of its own and is licensed under the Mozilla Public License 2.0; it reaches it through the LibreOffice UNO runtime libraries under the same licence.

Its window is built with Qt %1 (https://www.qt.io), used under the GNU Lesser General Public License version 3.</source>
        <translation>Lizenz: alle Rechte bei den Entwicklern von Vellum Converter.

Vellum Converter konvertiert mit LibreOffice (https://www.libreoffice.org), das als eigenes Programm läuft und unter der Mozilla Public License 2.0 steht; es erreicht LibreOffice über dessen UNO-Laufzeitbibliotheken unter derselben Lizenz.

Sein Fenster ist mit Qt %1 (https://www.qt.io) gebaut, verwendet unter der GNU Lesser General Public License Version 3.</translation>
    </message>
    <message>
        <source>About &amp;Qt</source>
        <translation>Über &amp;Qt</translation>
    </message>
    <message>
        <source>&amp;Close</source>
        <translation>&amp;Schließen</translation>
    </message>
    <message>
        <source>About %1</source>
        <translation>Über %1</translation>
    </message>
</context>
<context>
    <name>TdvFrmBase</name>
    <message>
        <source>Nothing on this desktop opens %1: install xdg-utils (xdg-open) or choose a program for such files.</source>
        <translation>Auf diesem Desktop öffnet nichts %1: xdg-utils (xdg-open) installieren oder ein Programm für solche Dateien wählen.</translation>
    </message>
</context>
<context>
    <name>TdvFrmCfg</name>
    <message>
        <source>True or False</source>
        <translation>True oder False</translation>
    </message>
    <message>
        <source>a number from %1</source>
        <translation>eine Zahl ab %1</translation>
    </message>
    <message>
        <source>a number from %1 to %2</source>
        <translation>eine Zahl von %1 bis %2</translation>
    </message>
    <message>
        <source>text</source>
        <translation>Text</translation>
    </message>
    <message>
        <source>a path</source>
        <translation>ein Pfad</translation>
    </message>
    <message>
        <source>one of %1</source>
        <translation>eines von %1</translation>
    </message>
    <message>
        <source>empty</source>
        <translation>leer</translation>
    </message>
    <message>
        <source>%1; default %2</source>
        <translation>%1; vorgegeben %2</translation>
    </message>
    <message>
        <source>Config</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>One option per line, written Name=Value. Lines of other names are kept.</source>
        <translation>Eine Option je Zeile, geschrieben Name=Wert. Zeilen mit anderen Namen bleiben erhalten.</translation>
    </message>
    <message>
        <source>Please add/delete/modify the options by yourself</source>
        <translation>Optionen hier selbst hinzufügen, löschen oder ändern</translation>
    </message>
    <message>
        <source>As text</source>
        <translation>Als Text</translation>
    </message>
    <message>
        <source>&amp;Ok</source>
        <translation>&amp;OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Hilfe</translation>
    </message>
    <message>
        <source>Click here to see the details about the options</source>
        <translation>Hier klicken, um mehr über die Optionen zu lesen</translation>
    </message>
</context>
<context>
    <name>TdvFrmMain</name>
    <message>
        <source>&amp;Convert</source>
        <translation>&amp;Konvertieren</translation>
    </message>
    <message>
        <source>Convert the file(s) instantly</source>
        <translation>Die Datei(en) sofort konvertieren</translation>
    </message>
    <message>
        <source>Sto&amp;p</source>
        <translation>Sto&amp;pp</translation>
    </message>
    <message>
        <source>Stop the run; the next Convert starts over</source>
        <translation>Den Lauf beenden; das nächste Konvertieren beginnt von vorn</translation>
    </message>
    <message>
        <source>&amp;Open</source>
        <translation>Ö&amp;ffnen</translation>
    </message>
    <message>
        <source>Open a batch project</source>
        <translation>Ein Stapelprojekt öffnen</translation>
    </message>
    <message>
        <source>&amp;New</source>
        <translation>&amp;Neu</translation>
    </message>
    <message>
        <source>New a batch project</source>
        <translation>Ein neues Stapelprojekt beginnen</translation>
    </message>
    <message>
        <source>Config</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Config the options of the batch project</source>
        <translation>Die Optionen des Stapelprojekts einstellen</translation>
    </message>
    <message>
        <source>Sa&amp;ve</source>
        <translation>&amp;Speichern</translation>
    </message>
    <message>
        <source>Save the batch project</source>
        <translation>Das Stapelprojekt speichern</translation>
    </message>
    <message>
        <source>Save &amp;As</source>
        <translation>Speichern un&amp;ter</translation>
    </message>
    <message>
        <source>Save the batch project as ...</source>
        <translation>Das Stapelprojekt speichern unter ...</translation>
    </message>
    <message>
        <source>Check &amp;Update</source>
        <translation>Nach &amp;Aktualisierung sehen</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Hilfe</translation>
    </message>
    <message>
        <source>Home</source>
        <translation>Startseite</translation>
    </message>
    <message>
        <source>Support</source>
        <translation>Unterstützung</translation>
    </message>
    <message>
        <source>Send us e-mail for support</source>
        <translation>Uns eine E-Mail um Unterstützung schreiben</translation>
    </message>
    <message>
        <source>About</source>
        <translation>Über</translation>
    </message>
    <message>
        <source>Search</source>
        <translation>Suchen</translation>
    </message>
    <message>
        <source>Search files from the source folder</source>
        <translation>Dateien im Quellordner suchen</translation>
    </message>
    <message>
        <source>V&amp;iew</source>
        <translation>Anze&amp;igen</translation>
    </message>
    <message>
        <source>View the convert result</source>
        <translation>Das Ergebnis der Konvertierung anzeigen</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>Paus&amp;e</source>
        <translation>Paus&amp;e</translation>
    </message>
    <message>
        <source>Let the workers finish their files, then pause</source>
        <translation>Die laufenden Dateien noch fertigstellen, dann anhalten</translation>
    </message>
    <message>
        <source>Retry &amp;Failed</source>
        <translation>Fehlgeschlagene &amp;wiederholen</translation>
    </message>
    <message>
        <source>Convert the failed files again</source>
        <translation>Die fehlgeschlagenen Dateien noch einmal konvertieren</translation>
    </message>
    <message>
        <source>&amp;Copy</source>
        <translation>&amp;Kopieren</translation>
    </message>
    <message>
        <source>Copy the selected rows as lines of the list</source>
        <translation>Die gewählten Zeilen als Zeilen der Liste kopieren</translation>
    </message>
    <message>
        <source>Filter</source>
        <translation>Filter</translation>
    </message>
    <message>
        <source>Show only the rows that hold a text</source>
        <translation>Nur die Zeilen zeigen, die einen Text enthalten</translation>
    </message>
    <message>
        <source>Choose or drag &amp; drop source folder or file(s)</source>
        <translation>Quellordner oder Datei(en) wählen oder hierher ziehen</translation>
    </message>
    <message>
        <source>&amp;Source</source>
        <translation>&amp;Quelle</translation>
    </message>
    <message>
        <source>Folder</source>
        <translation>Ordner</translation>
    </message>
    <message>
        <source>Choose a folder and click &quot;Search&quot; to list files</source>
        <translation>Einen Ordner wählen und „Suchen“ klicken, um die Dateien aufzulisten</translation>
    </message>
    <message>
        <source>Files</source>
        <translation>Dateien</translation>
    </message>
    <message>
        <source>Choose file(s) and click &quot;Convert&quot; to convert them</source>
        <translation>Datei(en) wählen und „Konvertieren“ klicken, um sie zu konvertieren</translation>
    </message>
    <message>
        <source>Su&amp;b folders</source>
        <translation>Unter&amp;ordner</translation>
    </message>
    <message>
        <source>Choose or drag &amp; drop target folder</source>
        <translation>Zielordner wählen oder hierher ziehen</translation>
    </message>
    <message>
        <source>&amp;Target</source>
        <translation>&amp;Ziel</translation>
    </message>
    <message>
        <source>Choose a target folder to save the converted file(s)</source>
        <translation>Einen Zielordner für die konvertierte(n) Datei(en) wählen</translation>
    </message>
    <message>
        <source>&amp;Resume</source>
        <translation>Fo&amp;rtsetzen</translation>
    </message>
    <message>
        <source>Drag &amp; drop file(s) here and click &quot;Convert&quot; to convert them</source>
        <translation>Datei(en) hierher ziehen und „Konvertieren“ klicken, um sie zu konvertieren</translation>
    </message>
    <message>
        <source>Browse Files</source>
        <translation>Dateien wählen</translation>
    </message>
    <message>
        <source>View  Source</source>
        <translation>Quelle  anzeigen</translation>
    </message>
    <message>
        <source>Open Source</source>
        <translation>Quelle öffnen</translation>
    </message>
    <message>
        <source>View  Output</source>
        <translation>Ergebnis  anzeigen</translation>
    </message>
    <message>
        <source>Export the List</source>
        <translation>Liste exportieren</translation>
    </message>
    <message>
        <source>A conversion is running. Stop it and quit?</source>
        <translation>Eine Konvertierung läuft. Abbrechen und beenden?</translation>
    </message>
    <message>
        <source>The project %1 has changes that are not saved. Save them before closing?</source>
        <translation>Das Projekt %1 hat ungespeicherte Änderungen. Vor dem Schließen speichern?</translation>
    </message>
    <message>
        <source>Untitled</source>
        <translation>Unbenannt</translation>
    </message>
    <message>
        <source>The window&apos;s state is not kept for the next start: %1</source>
        <translation>Der Zustand des Fensters bleibt für den nächsten Start nicht erhalten: %1</translation>
    </message>
    <message>
        <source>No file of the list has failed.</source>
        <translation>Keine Datei der Liste ist fehlgeschlagen.</translation>
    </message>
    <message>
        <source>The help is not installed: %1 is missing.</source>
        <translation>Die Hilfe ist nicht installiert: %1 fehlt.</translation>
    </message>
    <message>
        <source>A conversion is running: drop the files again once it has ended.</source>
        <translation>Eine Konvertierung läuft: die Dateien bitte erneut ablegen, wenn sie beendet ist.</translation>
    </message>
    <message>
        <source>There is one target folder: %1 was taken, the other paths were not.</source>
        <translation>Es gibt einen Zielordner: %1 wurde übernommen, die anderen Pfade nicht.</translation>
    </message>
    <message>
        <source>%1 is no presentation; it was not listed.</source>
        <translation>%1 ist keine Präsentation und wurde nicht aufgelistet.</translation>
    </message>
    <message>
        <source>%1 files are no presentations and were not listed: %2</source>
        <translation>%1 Dateien sind keine Präsentationen und wurden nicht aufgelistet: %2</translation>
    </message>
    <message>
        <source>No presentations found in what was dropped.</source>
        <translation>Im Abgelegten wurden keine Präsentationen gefunden.</translation>
    </message>
    <message>
        <source>Choose what to convert: the Source field is empty.</source>
        <translation>Bitte wählen, was konvertiert werden soll: das Feld Quelle ist leer.</translation>
    </message>
    <message>
        <source>Choose where the PDF files go: the Target field is empty.</source>
        <translation>Bitte wählen, wohin die PDF-Dateien sollen: das Feld Ziel ist leer.</translation>
    </message>
    <message>
        <source>The source folder %1 does not exist.</source>
        <translation>Den Quellordner %1 gibt es nicht.</translation>
    </message>
    <message>
        <source>The source %1 does not exist.</source>
        <translation>Die Quelle %1 gibt es nicht.</translation>
    </message>
    <message>
        <source>No presentations found in %1 or its sub-folders (pattern %2).</source>
        <translation>In %1 und seinen Unterordnern wurden keine Präsentationen gefunden (Muster %2).</translation>
    </message>
    <message>
        <source>No presentations found in %1 (pattern %2).</source>
        <translation>In %1 wurden keine Präsentationen gefunden (Muster %2).</translation>
    </message>
    <message>
        <source>Pausing</source>
        <translation>Wird angehalten</translation>
    </message>
    <message>
        <source>Stopping</source>
        <translation>Wird beendet</translation>
    </message>
    <message>
        <source>Conversion ended with failures</source>
        <translation>Konvertierung mit Fehlern beendet</translation>
    </message>
    <message>
        <source>Conversion finished</source>
        <translation>Konvertierung fertig</translation>
    </message>
</context>
<context>
    <name>TdvItemModel</name>
    <message>
        <source>Waiting</source>
        <translation>Wartend</translation>
    </message>
    <message>
        <source>Converting</source>
        <translation>Wird konvertiert</translation>
    </message>
    <message>
        <source>Converted</source>
        <translation>Konvertiert</translation>
    </message>
    <message>
        <source>Failed</source>
        <translation>Fehlgeschlagen</translation>
    </message>
    <message>
        <source>Skipped</source>
        <translation>Übersprungen</translation>
    </message>
    <message>
        <source>Not done</source>
        <translation>Nicht erledigt</translation>
    </message>
    <message>
        <source>Skipped: its PDF was there already</source>
        <translation>Übersprungen: die PDF-Datei war schon da</translation>
    </message>
    <message>
        <source>Converting…</source>
        <translation>Wird konvertiert …</translation>
    </message>
    <message>
        <source>File Name</source>
        <translation>Dateiname</translation>
    </message>
    <message>
        <source>Folder</source>
        <translation>Ordner</translation>
    </message>
    <message>
        <source>Result</source>
        <translation>Ergebnis</translation>
    </message>
</context>
<context>
    <name>TdvOptions</name>
    <message>
        <source>A folder and a pattern (/in/*.ppt?), one file, a file: address or an http(s) address</source>
        <translation>Ein Ordner mit Muster (/in/*.ppt?), eine Datei, eine file:-Adresse oder eine http(s)-Adresse</translation>
    </message>
    <message>
        <source>Search the sub-folders of the source folder too</source>
        <translation>Auch die Unterordner des Quellordners durchsuchen</translation>
    </message>
    <message>
        <source>Never list hidden files (hidden folders are never searched)</source>
        <translation>Versteckte Dateien nie auflisten (versteckte Ordner werden nie durchsucht)</translation>
    </message>
    <message>
        <source>A regular expression that every listed path must also match</source>
        <translation>Ein regulärer Ausdruck, auf den jeder aufgelistete Pfad auch passen muss</translation>
    </message>
    <message>
        <source>The target folder; created when missing</source>
        <translation>Der Zielordner; wird angelegt, wenn er fehlt</translation>
    </message>
    <message>
        <source>Keep each presentation&apos;s sub-folder below the target folder</source>
        <translation>Den Unterordner jeder Präsentation unter dem Zielordner beibehalten</translation>
    </message>
    <message>
        <source>Give each PDF the times of its presentation</source>
        <translation>Jeder PDF-Datei die Zeiten ihrer Präsentation geben</translation>
    </message>
    <message>
        <source>Delete a presentation once its PDF is written (never a read-only one)</source>
        <translation>Eine Präsentation löschen, sobald ihre PDF-Datei geschrieben ist (nie eine schreibgeschützte)</translation>
    </message>
    <message>
        <source>Append this text to a presentation&apos;s name once its PDF is written</source>
        <translation>Diesen Text an den Namen einer Präsentation hängen, sobald ihre PDF-Datei geschrieben ist</translation>
    </message>
    <message>
        <source>Export notes pages instead of slides</source>
        <translation>Notizseiten statt Folien ausgeben</translation>
    </message>
    <message>
        <source>Open presentations read-only</source>
        <translation>Präsentationen schreibgeschützt öffnen</translation>
    </message>
    <message>
        <source>Images in the PDF: 0 keeps them as they are; N reduces finer ones to N ppi</source>
        <translation>Bilder im PDF: 0 lässt sie, wie sie sind; N verringert feinere auf N ppi</translation>
    </message>
    <message>
        <source>On the printer route, wait for another copy&apos;s print job</source>
        <translation>Auf dem Druckerweg auf den Druckauftrag einer anderen Programmkopie warten</translation>
    </message>
    <message>
        <source>Workers, each with its own office process (at most four per core)</source>
        <translation>Arbeiter, jeder mit eigenem Office-Prozess (höchstens vier je Kern)</translation>
    </message>
    <message>
        <source>Seconds one file may take before its office is stopped and the file fails (0: no limit)</source>
        <translation>Sekunden, die eine Datei dauern darf, bevor ihr Office beendet wird und die Datei fehlschlägt (0: keine Grenze)</translation>
    </message>
    <message>
        <source>Start a fresh office process after this many files (0: never)</source>
        <translation>Nach so vielen Dateien einen frischen Office-Prozess starten (0: nie)</translation>
    </message>
    <message>
        <source>Office listeners to convert on, host:port or local, separated by blanks</source>
        <translation>Office-Dienste, auf denen konvertiert wird, host:port oder local, durch Leerzeichen getrennt</translation>
    </message>
    <message>
        <source>Seconds for reaching a listener and its first answer</source>
        <translation>Sekunden, um einen Office-Dienst und seine erste Antwort zu erreichen</translation>
    </message>
    <message>
        <source>Run without a window</source>
        <translation>Ohne Fenster laufen</translation>
    </message>
    <message>
        <source>Window: convert at start and close when done</source>
        <translation>Fenster: beim Start konvertieren und danach schließen</translation>
    </message>
    <message>
        <source>The run log of a console run, or the list of an unattended windowed run</source>
        <translation>Das Laufprotokoll eines Konsolenlaufs oder die Liste eines unbeaufsichtigten Fensterlaufs</translation>
    </message>
    <message>
        <source>Source</source>
        <translation>Quelle</translation>
    </message>
    <message>
        <source>Target</source>
        <translation>Ziel</translation>
    </message>
    <message>
        <source>Conversion</source>
        <translation>Konvertierung</translation>
    </message>
    <message>
        <source>Offices</source>
        <translation>Office-Prozesse</translation>
    </message>
    <message>
        <source>Unattended runs</source>
        <translation>Unbeaufsichtigte Läufe</translation>
    </message>
    <message>
        <source>An existing PDF: True replaces it, False writes -vellum-NAME.pdf, Skip leaves it, Update replaces it only when its presentation changed</source>
        <translation>Eine vorhandene PDF-Datei: True ersetzt sie, False schreibt -vellum-NAME.pdf, Skip lässt sie, Update ersetzt sie nur, wenn sich ihre Präsentation geändert hat</translation>
    </message>
    <message>
        <source>With IsOverwrite=Update, try again the decks that failed before and are unchanged since</source>
        <translation>Mit IsOverwrite=Update die Präsentationen erneut versuchen, die zuvor fehlschlugen und seither unverändert sind</translation>
    </message>
    <message>
        <source>The printer of the printer route: empty for the office&apos;s own Vellum PDF, or a printer the office lists</source>
        <translation>Der Drucker des Druckerwegs: leer für den eigenen Vellum-PDF-Drucker des Office, oder ein Drucker, den das Office auflistet</translation>
    </message>
    <message>
        <source>MiB of memory one office may take (0: half the machine&apos;s memory shared among the workers, at least 2048)</source>
        <translation>MiB Speicher, die ein Office belegen darf (0: die Hälfte des Speichers der Maschine, auf die Arbeiter verteilt, mindestens 2048)</translation>
    </message>
    <message>
        <source>Milliseconds between repeats of an unattended run; decks arriving start one sooner (0: run once)</source>
        <translation>Millisekunden zwischen den Wiederholungen eines unbeaufsichtigten Laufs; neu eintreffende Präsentationen starten eine früher (0: einmal laufen)</translation>
    </message>
</context>
<context>
    <name>TdvRunStatus</name>
    <message>
        <source>%1 of %2, %3 failed</source>
        <translation>%1 von %2, %3 fehlgeschlagen</translation>
    </message>
    <message>
        <source>%1: finishing 1 file</source>
        <translation>%1: 1 Datei wird fertiggestellt</translation>
    </message>
    <message>
        <source>%1: finishing %2 files</source>
        <translation>%1: %2 Dateien werden fertiggestellt</translation>
    </message>
    <message>
        <source>%1 elapsed</source>
        <translation>%1 vergangen</translation>
    </message>
    <message>
        <source>about %1 left</source>
        <translation>noch etwa %1</translation>
    </message>
    <message>
        <source>Paused: %1. Resume goes on with the files not yet converted.</source>
        <translation>Angehalten: %1. Fortsetzen macht mit den noch nicht konvertierten Dateien weiter.</translation>
    </message>
    <message>
        <source>Stopped: %1, %2 not done. Convert lists the source again and starts over.</source>
        <translation>Beendet: %1, %2 nicht erledigt. Konvertieren listet die Quelle neu auf und beginnt von vorn.</translation>
    </message>
    <message>
        <source>took %1</source>
        <translation>Dauer %1</translation>
    </message>
</context>
<context>
    <name>TdvSession</name>
    <message>
        <source>%1 cannot be written</source>
        <translation>%1 kann nicht geschrieben werden</translation>
    </message>
    <message>
        <source>%1 is damaged</source>
        <translation>%1 ist beschädigt</translation>
    </message>
</context>
</TS>
