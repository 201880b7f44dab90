#include "localization/KavrelLocalizationTables.h"

#include <iterator>

// The Russian rows beyond the first table: every other text the screens show, the error texts
// the program writes itself, and the singular forms of counted formats. Same rules as there:
// placeholders stay in number and order, КАВРЕЛ is never translated. Where an English key
// names a macOS place (System Settings, Finder, the menu bar), the Russian row names the Linux
// one: the sound settings, the file manager, the tray.

namespace {

const KavrelTranslationPair russianScreenPairs[] = {
    // Workspace and setup sheet.
    {"%@ translation", "Перевод · %@"},
    {"Input: %@", "Язык речи: %@"},
    {"Mic: %@", "Микрофон: %@"},
    {"Default microphone", "Микрофон по умолчанию"},
    {"Speaker %@", "Спикер %@"},
    {"Suggest answer", "Предложить ответ"},
    {"Suggested answer", "Вариант ответа"},
    {"Meeting protocol", "Протокол встречи"},
    {"Suggested answer will appear here after you ask the assistant for help with the latest question.",
     "Вариант ответа появится здесь, когда вы попросите ассистента помочь с последним вопросом."},
    {"Preparing protocol...", "Готовим протокол..."},
    {"Suggesting answer...", "Подбираем ответ..."},
    {"Summarizing...", "Составляем саммари..."},
    {"Summarizing translation...", "Составляем саммари перевода..."},
    {"Translating...", "Переводим..."},
    {"Translation is off for this session.", "Перевод в этой сессии выключен."},
    {"Live translation was turned off because the source and target languages cannot match.",
     "Живой перевод выключен: язык речи и язык перевода не могут совпадать."},
    {"%@ translation is unavailable: %@", "Перевод (%@) недоступен: %@"},
    {"%@ translation was paused: %@", "Перевод (%@) приостановлен: %@"},
    {"AI protocol failed, showing a local fallback instead.",
     "Не удалось создать AI-протокол, вместо него показана локальная версия."},
    {"AI answer assist failed, showing a local fallback instead.",
     "Не удалось подобрать ответ с помощью AI, вместо него показана локальная версия."},
    // The protocol and answer written on this machine when the AI request fails.
    {"Meeting Protocol", "Протокол встречи"},
    {"1. Topics Discussed", "1. Обсуждённые темы"},
    {"2. Decisions Made", "2. Принятые решения"},
    {"3. Open Questions", "3. Открытые вопросы"},
    {"- No explicit decisions detected in the local fallback.", "- В локальной версии явных решений не найдено."},
    {"- No explicit open questions detected in the local fallback.",
     "- В локальной версии явных открытых вопросов не найдено."},
    {"A concise fallback answer can acknowledge the latest question and respond to its main point directly.",
     "Короткий запасной ответ: отметьте последний вопрос и ответьте прямо на его суть."},
    {"A safe fallback answer is to confirm the latest point and add the most recent concrete detail from the conversation.",
     "Надёжный запасной ответ: подтвердите последнюю мысль и добавьте самую свежую конкретную деталь из разговора."},
    {"Latest question:", "Последний вопрос:"},
    {"Most recent context:", "Последний контекст:"},
    {"Latest context:", "Последний контекст:"},
    {"Editable during testing, with timestamped blocks.",
     "Во время проверки текст можно править; блоки помечены временем."},
    {"Transcript is live. You can edit it at any time during testing.",
     "Транскрипт пишется вживую. Во время проверки его можно править в любой момент."},
    {"Start listening or turn on the microphone to begin capturing transcript.",
     "Начните прослушивание или включите микрофон, чтобы начать транскрипцию."},
    {"Start test", "Начать проверку"},
    {"Stop test", "Остановить проверку"},
    {"Panel layout", "Расположение панелей"},
    {"Side by side", "Рядом"},
    {"One above the other", "Друг под другом"},
    {"Switch transcript and translation layout", "Сменить расположение транскрипта и перевода"},
    {"Resize transcript and translation panels", "Изменить размер панелей транскрипта и перевода"},
    {"Listening language", "Язык прослушивания"},
    {"КАВРЕЛ will transcribe the session using this source language.",
     "КАВРЕЛ будет расшифровывать сессию на этом языке."},
    {"Save full M4A recording", "Сохранять полную запись в M4A"},
    {"Store the entire captured session locally when you stop listening.",
     "Вся записанная сессия сохранится на компьютере, когда вы остановите прослушивание."},
    {"Live translation", "Живой перевод"},
    {"КАВРЕЛ will translate only final transcript chunks into the selected target language.",
     "КАВРЕЛ переводит на выбранный язык только окончательные фрагменты транскрипта."},
    {"microphone", "микрофон"},
    {"system audio and microphone", "системный звук и микрофон"},

    // A control that has the keyboard but cannot act for now.
    {"Unavailable right now", "Сейчас недоступно"},

    // Mini window.
    {"Expand КАВРЕЛ", "Развернуть КАВРЕЛ"},
    {"Live draft", "Текущий черновик"},
    {"Switch transcript layout", "Сменить расположение транскрипта"},
    {"Resize transcript panels", "Изменить размер панелей транскрипта"},

    // Onboarding, including the rows only the other languages' tables held.
    {"Setup %@%%", "Настройка %@%%"},
    {"Show saved recording in Finder", "Показать сохранённую запись в файловом менеджере"},
    {"Restart required", "Требуется перезапуск"},
    {"Permission setup", "Настройка разрешений"},
    {"Allow access", "Разрешить доступ"},
    {"Open settings", "Открыть настройки звука"},
    {"Allowed", "Разрешено"},
    {"Approved", "Одобрено"},
    {"Not requested", "Не запрошен"},
    {"Needs attention", "Требует внимания"},
    {"Not approved", "Не одобрено"},
    {"Restart needed", "Нужен перезапуск"},
    {"Quit and reopen", "Закрыть и открыть снова"},
    {"Granted", "Разрешён"},
    {"КАВРЕЛ will ask macOS for microphone access the first time.",
     "КАВРЕЛ запросит у системы доступ к микрофону при первом использовании."},
    {"If you previously denied access, turn it back on in System Settings and return here.",
     "Если вы раньше запретили доступ, включите его снова в настройках звука и вернитесь сюда."},
    {"Microphone input is active for this launch.", "Микрофонный вход активен в этом запуске."},
    {"You can continue straight into the app and start a listening session without additional permission prompts.",
     "Можно сразу перейти в приложение и начать сессию прослушивания без дополнительных запросов разрешений."},
    {"Live translation and assist", "Живой перевод и подсказки"},
    {"Once audio is flowing, the rest of the pipeline can summarize, translate, and suggest replies.",
     "Когда звук пойдёт, КАВРЕЛ сможет составлять саммари, переводить и предлагать ответы."},
    {"Allow microphone access", "Разрешите доступ к микрофону"},

    // Sign-in.
    {"Show password", "Показать пароль"},
    {"Hide password", "Скрыть пароль"},
    {"КАВРЕЛ opened your default browser. Finish Google sign-in there and the app will activate again automatically.",
     "КАВРЕЛ открыл браузер по умолчанию. Завершите там вход через Google, и приложение снова откроется само."},
    {"КАВРЕЛ opened your default browser. Finish Microsoft sign-in there and the app will activate again automatically.",
     "КАВРЕЛ открыл браузер по умолчанию. Завершите там вход через Microsoft, и приложение снова откроется само."},
    {"Sign-in finished. You can close this window and return to КАВРЕЛ.",
     "Вход выполнен. Можно закрыть это окно и вернуться в КАВРЕЛ."},
    {"Your previous login expired. Sign in again to continue.",
     "Срок предыдущего входа истёк. Войдите снова, чтобы продолжить."},

    // History.
    {"Delete", "Удалить"},
    {"Deleting", "Удаляем…"},
    {"Delete session?", "Удалить сессию?"},
    {"Search history", "Поиск по истории"},
    {"Session sections", "Разделы сессии"},
    {"The session cannot be deleted", "Сессию нельзя удалить"},
    {"This session is being recorded now. Stop listening before deleting it.",
     "Эта сессия сейчас записывается. Остановите прослушивание, чтобы её удалить."},
    {"This session has not been saved to the server yet. It can be deleted once it is saved.",
     "Эта сессия ещё не сохранена на сервере. Удалить её можно, когда она сохранится."},
    {"This will remove “%@” from your history.", "Сессия «%@» будет удалена из истории."},
    {"Your saved meetings will appear here after you finish a session.",
     "Сохранённые встречи появятся здесь, когда вы завершите сессию."},
    {"Clear search", "Очистить поиск"},

    // Profile, settings and the shell.
    {"Your signed-in КАВРЕЛ profile.", "Профиль КАВРЕЛ, в который вы вошли."},
    {"Updates", "Обновления"},
    {"Checking for updates...", "Проверяем обновления..."},
    {"Show sidebar", "Показать боковую панель"},
    {"Hide sidebar", "Скрыть боковую панель"},

    // The sign-in screen after a sign-out that stopped the listening.
    {"Listening stopped because you were signed out. The meeting is kept on this computer and will be saved to "
     "the history when you sign in to its account again.",
     "Прослушивание остановлено, потому что вы вышли из аккаунта. Встреча сохранена на этом компьютере и попадёт "
     "в историю, когда вы снова войдёте в её аккаунт."},

    // A second copy of the program over settings another copy holds.
    {"КАВРЕЛ is already running", "КАВРЕЛ уже запущен"},
    {"Another copy of КАВРЕЛ is already running with these settings, so this one will close.",
     "Другая копия КАВРЕЛ уже работает с этими настройками, поэтому эта копия закроется."},
    // A second start beside a copy that hangs or is stopped.
    {"КАВРЕЛ is running but does not answer", "КАВРЕЛ запущен, но не отвечает"},
    {"A copy of КАВРЕЛ is already running but does not answer, so nothing opens. End it in the system monitor or "
     "with the command “kill -9 %@” in a terminal, then start КАВРЕЛ again.",
     "Копия КАВРЕЛ уже запущена, но не отвечает, поэтому ничего не открывается. Завершите её в системном мониторе "
     "или командой «kill -9 %@» в терминале, затем снова запустите КАВРЕЛ."},
};

// Texts of the program's own errors. A key with "%@" also reads a composed message: the
// store takes the words around the placeholder as the frame and translates what stands in
// its place on its own, so "… failed: Could not connect to the server." reads in Russian
// all through.
const KavrelTranslationPair russianErrorPairs[] = {
    {"The operation was cancelled.", "Операция отменена."},
    {"The data couldn't be read because it isn't in the correct format: %@",
     "Не удалось прочитать данные: неверный формат: %@"},
    // What was wrong with the data, and where: "missing key (feed.version)".
    {"%@ (%@)", "%@ (%@)"},
    {"missing key", "нет ключа"},
    {"null value for a required key", "пустое значение обязательного ключа"},
    {"expected an object", "ожидался объект"},
    {"expected an array", "ожидался массив"},
    {"expected a string", "ожидалась строка"},
    {"expected an integer", "ожидалось целое число"},
    {"expected a number", "ожидалось число"},
    {"expected a boolean", "ожидалось логическое значение"},
    {"is empty", "пусто"},
    {"invalid JSON: %@", "некорректный JSON: %@"},
    {"invalid date \"%@\"", "некорректная дата «%@»"},
    {"Expected one of keys: %@.", "Ожидался один из ключей: %@."},
    {"Expected expires_at, expiresAt, expires_in, or expiresIn.",
     "Ожидался один из ключей: expires_at, expiresAt, expires_in или expiresIn."},
    {"Expiry out of range.", "Срок действия вне допустимого диапазона."},

    // Network and websockets.
    {"The request timed out.", "Время ожидания запроса истекло."},
    {"Could not connect to the server.", "Не удалось подключиться к серверу."},
    {"The network connection was lost.", "Сетевое соединение потеряно."},
    {"The server's reply is too large.", "Ответ сервера слишком большой."},
    {"A network error occurred.", "Произошла ошибка сети."},
    {"A network error occurred: %@", "Произошла ошибка сети: %@"},
    {"The server refused the websocket connection with HTTP status %@.",
     "Сервер отклонил подключение WebSocket (HTTP-статус %@)."},
    {"The server refused the websocket connection.", "Сервер отклонил подключение WebSocket."},
    {"The server did not accept the websocket connection.", "Сервер не принял подключение WebSocket."},
    {"The server closed the connection (code %@).", "Сервер закрыл соединение (код %@)."},
    {"The server closed the connection (code %@): %@", "Сервер закрыл соединение (код %@): %@"},
    {"The websocket is not connected.", "WebSocket не подключён."},
    {"The server sent a message larger than %@ bytes.", "Сервер прислал сообщение больше %@ байт."},
    {"The server closed the websocket before it was ready (code %@).",
     "Сервер закрыл WebSocket, прежде чем тот был готов (код %@)."},
    {"The server closed the websocket before it was ready (code %@): %@",
     "Сервер закрыл WebSocket, прежде чем тот был готов (код %@): %@"},
    {"The websocket upgrade did not complete in time.", "Подключение WebSocket не установилось вовремя."},

    // Accounts and the backend.
    {"The saved auth backend URL is invalid: %@", "Сохранённый адрес сервера авторизации некорректен: %@"},
    {"Sign-in is not configured yet. Add the auth backend URL in Settings first.",
     "Вход ещё не настроен. Сначала укажите адрес сервера авторизации в настройках."},
    {"Microsoft sign-in is not configured yet. Add the Microsoft client ID in Settings or bundle it with the app build.",
     "Вход через Microsoft ещё не настроен. Укажите идентификатор клиента Microsoft в настройках или добавьте его в сборку приложения."},
    {"КАВРЕЛ could not open the system browser for sign-in.", "КАВРЕЛ не смог открыть системный браузер для входа."},
    {"Apple sign-in completed, but Apple did not return an identity token.",
     "Вход через Apple завершён, но Apple не вернул токен личности."},
    {"Microsoft sign-in completed, but Microsoft did not return an ID token.",
     "Вход через Microsoft завершён, но Microsoft не вернул ID-токен."},
    {"КАВРЕЛ received an invalid OAuth callback.", "КАВРЕЛ получил некорректный ответ OAuth."},
    {"The Google sign-in callback did not match the original request.",
     "Ответ входа через Google не соответствует исходному запросу."},
    {"Google sign-in completed without an authorization code.", "Вход через Google завершился без кода авторизации."},
    {"The auth backend returned a response КАВРЕЛ could not understand.",
     "Сервер авторизации вернул ответ, который КАВРЕЛ не смог разобрать."},
    {"Google sign-in timed out before КАВРЕЛ received the browser callback.",
     "Время входа через Google истекло, прежде чем КАВРЕЛ получил ответ из браузера."},
    {"Microsoft sign-in timed out before КАВРЕЛ received the browser callback.",
     "Время входа через Microsoft истекло, прежде чем КАВРЕЛ получил ответ из браузера."},
    {"This sign-in request is no longer valid. Sign in again to get a new authenticator code.",
     "Этот запрос на вход больше не действителен. Войдите снова, чтобы получить новый код аутентификатора."},
    {"Sign-in was canceled.", "Вход отменён."},
    {"Auth backend request failed with status %@.", "Запрос к серверу авторизации завершился ошибкой (статус %@)."},
    {"Sign in to sync meeting history.", "Войдите, чтобы синхронизировать историю встреч."},
    {"КАВРЕЛ could not read the auth session from the Keychain.",
     "КАВРЕЛ не смог прочитать сессию входа из хранилища паролей."},
    {"КАВРЕЛ could not save the auth session in the Keychain.",
     "КАВРЕЛ не смог сохранить сессию входа в хранилище паролей."},
    {"The saved КАВРЕЛ backend URL is invalid: %@", "Сохранённый адрес сервера КАВРЕЛ некорректен: %@"},
    {"Sign in to use КАВРЕЛ AI and live transcription features.",
     "Войдите, чтобы пользоваться AI-функциями и живой транскрипцией КАВРЕЛ."},
    {"КАВРЕЛ could not create the backend proxy request.", "КАВРЕЛ не смог создать запрос к серверу."},
    {"The КАВРЕЛ backend returned a response the app could not understand.",
     "Сервер КАВРЕЛ вернул ответ, который приложение не смогло разобрать."},
    {"КАВРЕЛ backend request failed with status %@.", "Запрос к серверу КАВРЕЛ завершился ошибкой (статус %@)."},

    // Billing, history and updates.
    {"Sign in to load billing data.", "Войдите, чтобы загрузить данные об оплате."},
    {"The billing backend returned a response КАВРЕЛ could not understand.",
     "Сервер оплаты вернул ответ, который КАВРЕЛ не смог разобрать."},
    {"Billing request failed with status %@.", "Запрос к серверу оплаты завершился ошибкой (статус %@)."},
    {"GraphQL request failed.", "Запрос GraphQL завершился ошибкой."},
    {"The update feed answered with status %@.", "Лента обновлений ответила со статусом %@."},
    {"The update feed could not be read.", "Ленту обновлений не удалось прочитать."},
    {"The update feed names a version that cannot be read.",
     "В ленте обновлений указана версия, которую не удалось прочитать."},

    // AI texts.
    {"The app could not generate a summary: %@", "Не удалось создать саммари: %@"},
    {"The AI backend returned an empty summary response.", "AI-сервер вернул пустое саммари."},
    {"The AI backend returned a truncated summary response.", "AI-сервер вернул обрезанное саммари."},
    {"The app could not generate a meeting protocol: %@", "Не удалось создать протокол встречи: %@"},
    {"The AI backend returned an empty meeting protocol response.", "AI-сервер вернул пустой протокол встречи."},
    {"The AI backend returned a truncated meeting protocol response.", "AI-сервер вернул обрезанный протокол встречи."},
    {"The app could not draft an answer: %@", "Не удалось подготовить ответ: %@"},
    {"The AI backend returned an empty answer suggestion.", "AI-сервер вернул пустой вариант ответа."},

    // Audio.
    {"%@ OSStatus: %@", "%@ Код ошибки: %@"},
    {"Microphone capture failed to start: %@", "Не удалось начать захват микрофона: %@"},
    {"Microphone capture is already running.", "Захват микрофона уже идёт."},
    {"Microphone permission was not granted.", "Доступ к микрофону не предоставлен."},
    {"The app could not access the selected microphone input.", "Нет доступа к выбранному микрофону."},
    {"The selected microphone is not available.", "Выбранный микрофон недоступен."},
    {"The app could not reach the audio server: %@", "Не удалось подключиться к звуковому серверу: %@"},
    {"The app could not switch to the selected microphone.", "Не удалось переключиться на выбранный микрофон."},
    {"The app could not create the microphone audio unit.", "Не удалось создать аудиопоток микрофона."},
    {"The app could not initialize the selected microphone.", "Не удалось подготовить выбранный микрофон."},
    {"The selected microphone could not start.", "Не удалось запустить выбранный микрофон."},
    {"Microphone capture failed.", "Ошибка захвата микрофона."},
    {"Microphone capture failed: %@", "Ошибка захвата микрофона: %@"},
    {"The microphone is no longer available.", "Микрофон больше недоступен."},
    {"The app could not create an audio-only system tap.", "Не удалось подключить захват системного звука."},
    {"The app could not create a private system audio device.", "Не удалось создать служебное аудиоустройство."},
    {"The app could not attach to the system audio stream.", "Не удалось подключиться к потоку системного звука."},
    {"The app could not start system audio capture.", "Не удалось начать захват системного звука."},
    {"The app could not stop system audio capture cleanly.", "Не удалось корректно остановить захват системного звука."},
    {"The app could not detach from the system audio stream.", "Не удалось отключиться от потока системного звука."},
    {"The app could not remove the private system audio device.", "Не удалось удалить служебное аудиоустройство."},
    {"The app could not remove the system audio tap.", "Не удалось отключить захват системного звука."},
    {"The app could not read the system audio format.", "Не удалось определить формат системного звука."},
    {"The app could not read the system audio tap identifier.",
     "Не удалось получить идентификатор захвата системного звука."},
    {"The app could not create the output folder for saved audio recordings: %@",
     "Не удалось создать папку для сохранённых аудиозаписей: %@"},
    {"The app could not write the M4A file.", "Не удалось записать файл M4A."},
    {"The app could not write the M4A file: %@", "Не удалось записать файл M4A: %@"},
    {"%@ The recording up to that moment is kept: %@", "%@ Запись до этого момента сохранена: %@"},
    {"Recording stopped: %@", "Запись остановлена: %@"},
    {"No space is left on the device.", "На устройстве не осталось свободного места."},
    {"The disk quota is used up.", "Дисковая квота исчерпана."},
    {"The file has grown larger than the system allows.", "Файл стал больше, чем допускает система."},
    {"The disk can only be read.", "Диск доступен только для чтения."},
    {"The disk reported an input/output error.", "Диск сообщил об ошибке ввода-вывода."},
    {"The disk did not keep up with the recording.", "Диск не успевал сохранять запись."},
    {"System audio capture is already running.", "Захват системного звука уже идёт."},
    {"System audio capture is not running.", "Захват системного звука не запущен."},
    {"Audio-only system capture requires macOS 14.2 or newer.",
     "Захват только системного звука не поддерживается звуковым сервером этой системы."},
    {"The app could not create the M4A file.", "Не удалось создать файл M4A."},
    {"The app could not convert the captured system audio into a PCM buffer.",
     "Не удалось преобразовать записанный системный звук в PCM."},
    {"The captured system audio format is not supported.", "Формат записанного системного звука не поддерживается."},

    // Live transcription and translation.
    {"Live transcription was interrupted: %@", "Живая транскрипция прервана: %@"},
    {"The app could not open the live transcription connection: %@",
     "Не удалось открыть соединение живой транскрипции: %@"},
    {"The app could not stream audio for transcription: %@", "Не удалось передать звук на транскрипцию: %@"},
    {"The app could not receive a transcription update: %@", "Не удалось получить обновление транскрипции: %@"},
    {"The transcription service returned an error: %@", "Сервис транскрипции вернул ошибку: %@"},
    {"Sign in to start live transcription.", "Войдите, чтобы начать живую транскрипцию."},
    {"The app could not create the live transcription request.", "Не удалось создать запрос живой транскрипции."},
    {"Live transcription is already connected.", "Живая транскрипция уже подключена."},
    {"Unknown transcription service error.", "Неизвестная ошибка сервиса транскрипции."},
    {"The transcription service closed the connection before it was ready. Code %@",
     "Сервис транскрипции закрыл соединение, прежде чем оно было готово. Код %@"},
    {"The transcription service closed the connection before it was ready. Code %@: %@",
     "Сервис транскрипции закрыл соединение, прежде чем оно было готово. Код %@: %@"},
    {"The transcription service did not accept the connection in time.",
     "Сервис транскрипции не принял подключение вовремя."},
    {"The app could not translate the final transcript: %@", "Не удалось перевести окончательный транскрипт: %@"},
    {"The AI backend returned an error: %@", "AI-сервер вернул ошибку: %@"},
    {"Sign in to use live translation.", "Войдите, чтобы пользоваться живым переводом."},
    {"The app could not create the translation request.", "Не удалось создать запрос на перевод."},
    {"The AI backend returned an empty translation response.", "AI-сервер вернул пустой перевод."},
    {"Live translation is already connected.", "Живой перевод уже подключён."},
    {"Live translation did not respond in time.", "Живой перевод не ответил вовремя."},
    {"Unknown translation service error.", "Неизвестная ошибка сервиса перевода."},
    {"Final translation failed for turn %@.", "Не удалось перевести реплику %@."},
    {"The v2 translation WebSocket closed during setup (code %@).",
     "Соединение перевода закрылось во время настройки (код %@)."},
    {"The v2 translation WebSocket closed during setup (code %@): %@",
     "Соединение перевода закрылось во время настройки (код %@): %@"},
    {"The v2 translation WebSocket upgrade did not complete in time.", "Соединение перевода не установилось вовремя."},
};

// The one and few forms of counted formats; the many form ("%@ слов") is the format's row.
const KavrelPluralForms russianPluralForms[] = {
    {"%@ words", "%@ слово", "%@ слова"},
    {"%@ lines", "%@ строка", "%@ строки"},
    {"%@ sessions", "%@ сессия", "%@ сессии"},
};

} // namespace

namespace KavrelLocalizationTables {

std::span<const KavrelTranslationPair> russianScreenPairs()
{
    return ::russianScreenPairs;
}

std::span<const KavrelTranslationPair> russianErrorPairs()
{
    return ::russianErrorPairs;
}

std::span<const KavrelPluralForms> pluralForms(KavrelAppLanguage language)
{
    if (language == KavrelAppLanguage::russian)
        return russianPluralForms;
    return {};
}

} // namespace KavrelLocalizationTables
