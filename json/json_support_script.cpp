#include "json/json_support_script.h"

namespace qx {

// The pieces below join into a single line: the engine gets no line breaks,
// and every "\n" or "\\" is a script escape, not a C++ one (raw literals).
//
// Written for ES3 JScript: no Object.keys, no Array.prototype.indexOf, no
// named function expressions (JScript leaks their names into the enclosing
// scope), objects walked with for-in filtered by hasOwnProperty so that the
// two methods added to Object.prototype never end up in the output.
//
// stringify escapes every character that some engine or transport treats as
// a line end or drops silently; parse turns the same characters into escapes
// before it validates, so that a raw U+2028 inside a string cannot end the
// literal when the validated text is evaluated.
extern const std::string_view JsonSupportScript =
    R"js(function get__count(c){var i=-2;for(v in c)i++;return i})js"
    R"js(if(typeof JSON!=='object'){JSON={}})js"
    R"js((function(){'use strict';)js"
    R"js(var escapable=/[\\"\x00-\x1f\x7f-\x9f\u00ad\u0600-\u0604\u070f\u17b4\u17b5\u200c-\u200f\u2028-\u202f\u2060-\u206f\ufeff\ufff0-\uffff]/g,)js"
    R"js(unsafe=/[\u0000\u00ad\u0600-\u0604\u070f\u17b4\u17b5\u200c-\u200f\u2028-\u202f\u2060-\u206f\ufeff\ufff0-\uffff]/g,)js"
    R"js(shortEscape={'\b':'\\b','\t':'\\t','\n':'\\n','\f':'\\f','\r':'\\r','"':'\\"','\\':'\\\\'},)js"
    R"js(gap,indent,rep,hasOwn=Object.prototype.hasOwnProperty,typeName=Object.prototype.toString;)js"
    R"js(function two(n){return n<10?'0'+n:''+n})js"
    R"js(function unicodeEscape(c){return '\\u'+('0000'+c.charCodeAt(0).toString(16)).slice(-4)})js"
    R"js(function escapeChar(c){var e=shortEscape[c];return typeof e==='string'?e:unicodeEscape(c)})js"
    R"js(function quote(s){return '"'+s.replace(escapable,escapeChar)+'"'})js"
    R"js(function isArray(v){return typeName.call(v)==='[object Array]'})js"
    R"js(function primitive(){return this.valueOf()})js"
    // A toJSON method replaces the value before it is written.
    R"js(if(typeof Date.prototype.toJSON!=='function'){)js"
    R"js(Date.prototype.toJSON=function(){return isFinite(this.valueOf())?this.getUTCFullYear()+'-'+two(this.getUTCMonth()+1)+'-'+two(this.getUTCDate())+'T'+two(this.getUTCHours())+':'+two(this.getUTCMinutes())+':'+two(this.getUTCSeconds())+'Z':null};)js"
    R"js(String.prototype.toJSON=primitive;Number.prototype.toJSON=primitive;Boolean.prototype.toJSON=primitive})js"
    R"js(function join(partial,mind,open,close){return partial.length===0?open+close:gap?open+'\n'+gap+partial.join(',\n'+gap)+'\n'+mind+close:open+partial.join(',')+close})js"
    R"js(function member(k,holder,partial){var v=str(k,holder);if(v){partial.push(quote(k)+(gap?': ':':')+v)}})js"
    R"js(function str(key,holder){var i,k,v,len,partial,mind=gap,value=holder[key];)js"
    R"js(if(value&&typeof value==='object'&&typeof value.toJSON==='function'){value=value.toJSON(key)})js"
    R"js(if(typeof rep==='function'){value=rep.call(holder,key,value)})js"
    R"js(switch(typeof value){)js"
    R"js(case 'string':return quote(value);)js"
    R"js(case 'number':return isFinite(value)?String(value):'null';)js"
    R"js(case 'boolean':return String(value);)js"
    R"js(case 'object':if(!value){return 'null'})js"
    R"js(gap+=indent;partial=[];)js"
    R"js(if(isArray(value)){len=value.length;for(i=0;i<len;i+=1){partial[i]=str(i,value)||'null'}v=join(partial,mind,'[',']');gap=mind;return v})js"
    R"js(if(rep&&typeof rep==='object'){len=rep.length;for(i=0;i<len;i+=1){if(typeof rep[i]==='string'){member(rep[i],value,partial)}}})js"
    R"js(else{for(k in value){if(hasOwn.call(value,k)){member(k,value,partial)}}})js"
    R"js(v=join(partial,mind,'{','}');gap=mind;return v}})js"
    R"js(if(typeof JSON.stringify!=='function'){JSON.stringify=function(value,replacer,space){var i;gap='';indent='';)js"
    R"js(if(typeof space==='number'){for(i=0;i<space;i+=1){indent+=' '}}else if(typeof space==='string'){indent=space})js"
    R"js(if(replacer&&typeof replacer!=='function'&&!isArray(replacer)){throw new Error('JSON.stringify')})js"
    R"js(rep=replacer;return str('',{'':value})}})js"
    // Validation: escapes become "@"; strings, literals and numbers become
    // "]"; opening brackets at the start or after ":" or "," go. Only JSON
    // punctuation and white space may then remain.
    R"js(if(typeof JSON.parse!=='function'){JSON.parse=function(text,reviver){var j;)js"
    R"js(function walk(holder,key){var k,v,value=holder[key];if(value&&typeof value==='object'){for(k in value){if(hasOwn.call(value,k)){v=walk(value,k);if(v!==undefined){value[k]=v}else{delete value[k]}}}}return reviver.call(holder,key,value)})js"
    R"js(text=String(text).replace(unsafe,unicodeEscape);)js"
    R"js(if(/^[\],:{}\s]*$/.test(text.replace(/\\(?:["\\\/bfnrt]|u[0-9a-fA-F]{4})/g,'@').replace(/"[^"\\\n\r]*"|true|false|null|-?\d+(?:\.\d*)?(?:[eE][+\-]?\d+)?/g,']').replace(/(?:^|:|,)(?:\s*\[)+/g,''))){)js"
    R"js(j=eval('('+text+')');return typeof reviver==='function'?walk({'':j},''):j})js"
    R"js(throw new SyntaxError('JSON.parse')}})js"
    R"js(if(typeof Object.prototype.toJSONString!=='function'){)js"
    R"js(Object.prototype.toJSONString=function(filter){return JSON.stringify(this,filter)};)js"
    R"js(Object.prototype.parseJSON=function(filter){return JSON.parse(this,filter)}})js"
    R"js(}());)js";

}  // namespace qx
